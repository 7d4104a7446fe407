// parlo-cli devicedb: scramble, unscramble and check the device and provider
// database "vok.dat".
#include <ostream>
#include <string>
#include <vector>

#include "parlo/app/parlo_doc.h"
#include "parlo/cli/cli.h"
#include "parlo/store/device_db.h"
#include "platform/binio.h"
#include "platform/text.h"

namespace cli {

namespace {

constexpr const char* kUsageText =
    "usage: parlo-cli devicedb pack SOURCE OUTPUT   (readable source -> vok.dat)\n"
    "       parlo-cli devicedb unpack VOKDAT OUTPUT (vok.dat -> plain text)\n"
    "       parlo-cli devicedb check [VOKDAT]       (default: the one the client reads)\n";

int Pack(Context& ctx, const std::string& in, const std::string& out) {
    std::string source;
    if (!platform::ReadFileBytes(in, &source)) {
        ctx.err << "parlo-cli: cannot read " << in << "\n";
        return kFailed;
    }
    std::string text = parlo::SourceToDeviceDbText(source);
    std::vector<parlo::PhoneModelRecord> phones;
    std::vector<parlo::OperatorRecord> ops;
    parlo::DeviceDbResult r = parlo::ParseDeviceDb(text, &phones, &ops);
    if (!r.ok) {
        ctx.err << in << ": " << platform::ToUtf8(r.CheckMessage()) << "\n";
        return kFailed;
    }
    parlo::ScrambleDeviceDb(&text);
    if (!platform::WriteFileAtomic(out, text)) {
        ctx.err << "parlo-cli: cannot write " << out << "\n";
        return kFailed;
    }
    ctx.out << out << ": " << phones.size() << " phone models, " << ops.size() << " providers\n";
    return kOk;
}

int Unpack(Context& ctx, const std::string& in, const std::string& out) {
    std::string bytes;
    if (!platform::ReadFileBytes(in, &bytes)) {
        ctx.err << "parlo-cli: cannot read " << in << "\n";
        return kFailed;
    }
    parlo::ScrambleDeviceDb(&bytes);
    size_t zero = bytes.find('\0');
    if (zero != std::string::npos)
        bytes.resize(zero);
    if (out == "-") {
        ctx.out << platform::ToUtf8(platform::Cp1252ToUtf16(bytes));
        return kOk;
    }
    if (!platform::WriteFileAtomic(out, bytes)) {
        ctx.err << "parlo-cli: cannot write " << out << "\n";
        return kFailed;
    }
    return kOk;
}

int Check(Context& ctx, const std::string& given) {
    std::string path = given;
    if (path.empty()) {
        parlo::NullParloView view;
        parlo::CParloDoc doc(&view, &ctx.prompt);
        path = doc.DeviceDatabasePath().string();
    }
    std::vector<parlo::PhoneModelRecord> phones;
    std::vector<parlo::OperatorRecord> ops;
    parlo::DeviceDbResult r = parlo::LoadDeviceDb(path, &phones, &ops);
    if (r.failure == 1) {
        ctx.err << path << ": Can not open data file. (vok.dat)\n";
        return kFailed;
    }
    if (!r.ok) {
        ctx.err << path << ": " << platform::ToUtf8(r.CheckMessage()) << "\n"
                << "(" << phones.size() << " phone models and " << ops.size()
                << " providers were read before the fault)\n";
        return kFailed;
    }
    ctx.out << path << ": " << phones.size() << " phone models, " << ops.size() << " providers\n";
    return kOk;
}

}  // namespace

int CmdDeviceDb(Context& ctx) {
    const std::vector<std::string>& a = ctx.args;
    if (a.size() == 3 && a[0] == "pack")
        return Pack(ctx, a[1], a[2]);
    if (a.size() == 3 && a[0] == "unpack")
        return Unpack(ctx, a[1], a[2]);
    if ((a.size() == 1 || a.size() == 2) && a[0] == "check")
        return Check(ctx, a.size() == 2 ? a[1] : "");
    ctx.err << kUsageText;
    return kUsage;
}

}  // namespace cli
