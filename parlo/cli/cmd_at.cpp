// parlo-cli at: talk to a phone or modem with AT commands through the phone
// link, as the client does, so that users can check a modem.
#include <cstdlib>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

#include "cordis/cordis.h"
#include "parlo/cli/cli.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace cli {

namespace {

constexpr const char* kAtUsage =
    "usage: parlo-cli at [--port NAME] [--baud N] [--timeout SECONDS] [COMMAND...]\n"
    "  NAME is a \"COMn:\" port or a device path (default: the first modem's port).\n"
    "  Without COMMANDs, one command per line is read from standard input.\n"
    "  After a \">\" prompt the next COMMAND is sent as the message body, ended\n"
    "  with Ctrl-Z.\n";

// The port of the first data modem (ExtModems entry of device type 1).
std::string DefaultPort() {
    platform::Registry reg = platform::Registry::Device();
    const std::string key = "ExtModems";
    for (const std::string& sub : reg.Subkeys(platform::Hive::LocalMachine, key)) {
        std::string path = key + "\\" + sub;
        if (reg.QueryDword(platform::Hive::LocalMachine, path, "DeviceType").value_or(0) != 1) {
            continue;
        }
        auto port = reg.QueryString(platform::Hive::LocalMachine, path, "Port");
        if (port && !port->empty())
            return *port;
    }
    return "";
}

bool ParseInt(const std::string& s, int lo, int hi, int* out) {
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != '\0' || v < lo || v > hi)
        return false;
    *out = static_cast<int>(v);
    return true;
}

// Line ends of the reply as the terminal shows them.
std::string Printable(const std::u16string& reply) {
    std::string text = platform::ToUtf8(reply);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i] == '\r' ? '\n' : text[i];
    }
    return out;
}

}  // namespace

int CmdAt(Context& ctx) {
    std::string port;
    int baud = 9600;
    int timeout = 0;
    std::vector<std::string> commands;
    for (size_t i = 0; i < ctx.args.size(); ++i) {
        const std::string& a = ctx.args[i];
        bool has_value = i + 1 < ctx.args.size();
        if (a == "--help" || a == "-h") {
            ctx.out << kAtUsage;
            return kOk;
        } else if (a == "--port" && has_value) {
            port = ctx.args[++i];
        } else if (a == "--baud" && has_value) {
            if (!ParseInt(ctx.args[++i], 1, 4000000, &baud)) {
                ctx.err << "parlo-cli at: bad baud rate\n" << kAtUsage;
                return kUsage;
            }
        } else if (a == "--timeout" && has_value) {
            if (!ParseInt(ctx.args[++i], 1, 3600, &timeout)) {
                ctx.err << "parlo-cli at: bad time-out\n" << kAtUsage;
                return kUsage;
            }
        } else if (a.size() > 1 && a[0] == '-' && a.rfind("--", 0) == 0) {
            ctx.err << "parlo-cli at: unknown option " << a << "\n" << kAtUsage;
            return kUsage;
        } else {
            commands.push_back(a);
        }
    }
    bool from_stdin = commands.empty();
    if (port.empty())
        port = DefaultPort();
    if (port.empty()) {
        ctx.err << "parlo-cli at: no modem registered; give --port NAME\n";
        return kFailed;
    }

    CCordis* link = GetCordis();
    link->StartSAR();
    if (!link->OpenPort(platform::FromUtf8(port))) {
        ctx.err << "parlo-cli at: cannot open port " << port << "\n";
        link->StopSAR();
        return kFailed;
    }
    int status = kOk;
    if (!link->SetParams(baud, 0, 8, 0)) {
        ctx.err << "parlo-cli at: cannot configure port " << port << "\n";
        status = kFailed;
    }
    bool body_next = false;
    size_t next = 0;
    std::string command;
    while (status == kOk) {
        if (from_stdin) {
            if (!std::getline(std::cin, command))
                break;
            if (!command.empty() && command.back() == '\r')
                command.pop_back();
            if (command.empty())
                continue;
        } else {
            if (next >= commands.size())
                break;
            command = commands[next++];
        }
        std::u16string reply;
        int mode = body_next ? 1 : 0;
        int seconds = timeout ? timeout : body_next ? SAR_TIMEOUT_SMS_BODY : SAR_TIMEOUT_COMMAND;
        ctx.out << ">> " << command << (body_next ? " <Ctrl-Z>" : "") << "\n";
        std::string bytes = body_next ? command + '\x1a' : command;
        int result = link->SendAndReceive(bytes, reply, mode, seconds);
        if (!reply.empty())
            ctx.out << Printable(reply) << "\n";
        ctx.out << (result ? "result: 1 (done)\n" : "result: 0 (failed or no answer)\n");
        ctx.out.flush();
        if (!result)
            status = kFailed;
        body_next = result && reply == u">";
    }
    link->ClosePort();
    link->StopSAR();
    return status;
}

}  // namespace cli
