// parlo-cli at: talk to a phone or modem with AT commands through the phone
// link, as the client does, so that users can check a modem.
#include <cstdlib>
#include <iostream>
#include <ostream>
#include <string>
#include <vector>

#include "cordis/cordis.h"
#include "parlo/cli/cli.h"
#include "platform/device_users.h"
#include "platform/ports.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace cli {

namespace {

constexpr const char* kAtUsage =
    "usage: parlo-cli at [--port NAME | NAME] [--baud N] [--timeout SECONDS] [COMMAND...]\n"
    "  NAME is a \"COMn:\" port or a device path (default: the first modem's port);\n"
    "  it may also be given as the first word.\n"
    "  Every COMMAND is sent, also after one that failed; the exit status is 1\n"
    "  when any failed. Without COMMANDs, one command per line is read from\n"
    "  standard input. After a \">\" prompt the next COMMAND is sent as the\n"
    "  message body, ended with Ctrl-Z.\n";

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

// A port name rather than a command: a device path or "COMn:".
bool LooksLikePort(const std::string& word) {
    if (!word.empty() && word[0] == '/')
        return true;
    if (word.size() < 5 || word.back() != ':')
        return false;
    if (!platform::EqualsNoCase(word.substr(0, 3), "COM"))
        return false;
    return word.find_first_not_of("0123456789", 3) == word.size() - 1;
}

// Who else holds the port, when someone does.
void ExplainPort(Context& ctx, const std::string& port) {
    if (auto device = platform::ResolvePort(port)) {
        std::string why =
            platform::ExplainDeviceHolders(*device, platform::FindDeviceHolders(*device));
        if (!why.empty())
            ctx.err << why;
    }
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
        } else if (commands.empty() && port.empty() && LooksLikePort(a)) {
            port = a;
        } else {
            commands.push_back(a);
        }
    }
    bool from_stdin = commands.empty();
    if (port.empty())
        port = DefaultPort();
    if (port.empty()) {
        ctx.err << "parlo-cli at: no modem is registered. Give the port (parlo-cli at "
                   "/dev/ttyUSB0 AT), or register the phone with 'parlo-cli modem add NAME "
                   "PORT' or 'parlo-cli modem detect'.\n";
        return kFailed;
    }

    CCordis* link = GetCordis();
    link->StartSAR();
    if (!link->OpenPort(platform::FromUtf8(port))) {
        ctx.err << "parlo-cli at: cannot open port " << port << "\n";
        if (auto device = platform::ResolvePort(port))
            ctx.err << platform::ExplainOpenFailure(*device);
        else
            ctx.err << port << " names no device (see 'parlo-cli modem list').\n";
        ExplainPort(ctx, port);
        link->StopSAR();
        return kFailed;
    }
    if (!link->SetParams(baud, 0, 8, 0)) {
        ctx.err << "parlo-cli at: cannot configure port " << port << "\n";
        link->ClosePort();
        link->StopSAR();
        return kFailed;
    }
    int status = kOk;
    int failed = 0;
    bool body_next = false;
    size_t next = 0;
    std::string command;
    for (;;) {
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
        if (!result) {
            status = kFailed;
            ++failed;
        }
        body_next = result && reply == u">";
    }
    link->ClosePort();
    link->StopSAR();
    if (failed > 0) {
        ctx.err << "parlo-cli at: " << failed << (failed == 1 ? " command" : " commands")
                << " failed\n";
        // Garbage or no answers from a port that another program holds.
        ExplainPort(ctx, port);
    }
    return status;
}

}  // namespace cli
