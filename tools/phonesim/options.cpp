#include "tools/phonesim/options.h"

#include <cstring>
#include <vector>

#include "tools/phonesim/hex.h"
#include "tools/phonesim/transcript.h"

namespace phonesim {
namespace {

bool ToInt(const std::string& s, int* out) {
    if (s.empty() || s.size() > 9)
        return false;
    int v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    *out = v;
    return true;
}

std::vector<std::string> SplitColon(const std::string& s) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t c = s.find(':', start);
        parts.push_back(s.substr(start, c == std::string::npos ? std::string::npos : c - start));
        if (c == std::string::npos)
            break;
        start = c + 1;
    }
    return parts;
}

}  // namespace

const char* Usage() {
    return "usage: phonesim --state FILE [options]\n"
           "A simulated GSM phone on a pseudo-terminal. Prints the device path first.\n"
           "  --state FILE          state file (JSON; created with defaults when missing)\n"
           "  --baud N              pace output at N/10 bytes per second (0: no pacing)\n"
           "  --delay-ms N          wait N ms before every answer\n"
           "  --send-ms N           network time of AT+CMGS in ms\n"
           "  --echo on|off         command echo at start (overrides the state file)\n"
           "  --lowercase-hex       PDUs in answers in lowercase hexadecimal\n"
           "  --cmgl all|error|cms  AT+CMGL lists, answers ERROR or +CMS ERROR: 303\n"
           "  --cmgl-limit N        AT+CMGL lists at most N messages (0: all)\n"
           "  --size MEM:N          the storage MEM has N slots\n"
           "  --transcript FILE     append every byte in and out with time stamps\n"
           "  --control SOCKET      accept control commands on a Unix socket\n"
           "  --exit-after N        exit after answering N command lines\n"
           "  --exit-after Ns       exit after N seconds\n"
           "  --register NAME       register as ExtModems entry NAME with a COMn: alias\n"
           "  --alias COMn:         the alias to use with --register\n"
           "  --home DIR            the installation directory (sets SKYVANE_HOME)\n"
           "  --help, --version     show this help, or the version\n"
           "Faults (commands are counted from 1):\n"
           "  --silence N[:COUNT]   no echo and no answer from command N on, COUNT commands\n"
           "                        (default 1, 0: for good)\n"
           "  --garbage N:HEX[:replace]  send the bytes before (or instead of) answer N\n"
           "  --drop N              close the line when command N arrives\n"
           "  --prompt-extra TEXT   send TEXT (escapes \\r \\n \\xHH) after the \"> \" prompt\n"
           "  --prompt-extra-delay MS  ... that long after the prompt\n"
           "  --cmti N[:MEM]        store a new message and send +CMTI before answer N\n"
           "  --cmti-at MS[:MEM]    ... MS milliseconds after start\n"
           "  --cmt N / --cmt-at MS send a +CMT delivery line likewise\n"
           "  --unsolicited N:POS:KIND[:ARG]  an unsolicited line at command N; POS\n"
           "                        before-echo, before, inside or after its answer;\n"
           "                        KIND cmti (ARG: MEM), cmt, or line (ARG: the text,\n"
           "                        escapes \\r \\n \\xHH)\n";
}

bool ParseOptions(int argc, char** argv, Options* o, std::string* error) {
    std::optional<PromptExtraFault> prompt_extra;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) {
                *error = arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        auto number = [&](int* out) {
            std::string v;
            if (!value(&v))
                return false;
            if (!ToInt(v, out)) {
                *error = arg + ": not a number: " + v;
                return false;
            }
            return true;
        };
        std::string v;
        int n = 0;
        if (arg == "-h" || arg == "--help") {
            o->help = true;
        } else if (arg == "--version") {
            o->version = true;
        } else if (arg == "--state") {
            if (!value(&v))
                return false;
            o->state_file = v;
        } else if (arg == "--baud") {
            if (!number(&o->baud))
                return false;
        } else if (arg == "--delay-ms") {
            if (!number(&n))
                return false;
            o->delay_ms = n;
        } else if (arg == "--send-ms") {
            if (!number(&n))
                return false;
            o->send_ms = n;
        } else if (arg == "--echo") {
            if (!value(&v))
                return false;
            if (v != "on" && v != "off") {
                *error = "--echo takes on or off";
                return false;
            }
            o->echo = v == "on";
        } else if (arg == "--lowercase-hex") {
            o->lowercase_hex = true;
        } else if (arg == "--cmgl") {
            if (!value(&v))
                return false;
            if (v != "all" && v != "error" && v != "cms") {
                *error = "--cmgl takes all, error or cms";
                return false;
            }
            o->list_mode = v;
        } else if (arg == "--cmgl-limit") {
            if (!number(&n))
                return false;
            o->list_limit = n;
        } else if (arg == "--size") {
            if (!value(&v))
                return false;
            auto parts = SplitColon(v);
            if (parts.size() != 2 || parts[0].empty() || !ToInt(parts[1], &n) || n < 1 ||
                n > 1000) {
                *error = "--size takes MEM:N (1 to 1000)";
                return false;
            }
            o->sizes.emplace_back(parts[0], n);
        } else if (arg == "--unsolicited") {
            if (!value(&v))
                return false;
            // N:POS:KIND[:ARG]; ARG may itself hold colons ("+CREG: 1").
            UnsolicitedFault f;
            std::vector<std::string> head;
            size_t start = 0;
            while (head.size() < 3) {
                size_t c = v.find(':', start);
                head.push_back(v.substr(start, c == std::string::npos ? c : c - start));
                if (c == std::string::npos) {
                    start = v.size() + 1;
                    break;
                }
                start = c + 1;
            }
            std::string rest = start <= v.size() ? v.substr(start) : "";
            bool has_rest = start <= v.size();
            bool ok = head.size() == 3 && ToInt(head[0], &f.command) && f.command > 0 &&
                      IsUnsolicitedPosition(head[1]);
            if (ok) {
                f.position = head[1];
                f.kind = head[2];
                if (f.kind == "cmti") {
                    if (has_rest)
                        f.storage = rest;
                } else if (f.kind == "line") {
                    ok = has_rest && UnescapeBytes(rest, &f.line) && !f.line.empty();
                } else {
                    ok = f.kind == "cmt" && !has_rest;
                }
            }
            if (!ok) {
                *error = "--unsolicited takes N:POSITION:KIND[:ARG]";
                return false;
            }
            o->faults.unsolicited.push_back(f);
        } else if (arg == "--transcript") {
            if (!value(&v))
                return false;
            o->transcript = v;
        } else if (arg == "--control") {
            if (!value(&v))
                return false;
            o->control = v;
        } else if (arg == "--exit-after") {
            if (!value(&v))
                return false;
            bool seconds = !v.empty() && v.back() == 's';
            if (seconds)
                v.pop_back();
            if (!ToInt(v, &n) || n == 0) {
                *error = "--exit-after takes N or Ns";
                return false;
            }
            if (seconds) {
                o->exit_after_ms = n * 1000;
            } else {
                o->exit_after_commands = n;
            }
        } else if (arg == "--register") {
            if (!value(&o->register_name))
                return false;
        } else if (arg == "--home") {
            if (!value(&o->home))
                return false;
        } else if (arg == "--alias") {
            if (!value(&o->alias))
                return false;
        } else if (arg == "--silence") {
            if (!value(&v))
                return false;
            auto parts = SplitColon(v);
            SilenceFault f;
            if (parts.size() > 2 || !ToInt(parts[0], &f.command) ||
                (parts.size() == 2 && !ToInt(parts[1], &f.count))) {
                *error = "--silence takes N[:COUNT]";
                return false;
            }
            o->faults.silence.push_back(f);
        } else if (arg == "--garbage") {
            if (!value(&v))
                return false;
            auto parts = SplitColon(v);
            GarbageFault f;
            if (parts.size() < 2 || parts.size() > 3 || !ToInt(parts[0], &f.command) ||
                !HexToBytes(parts[1], &f.bytes) || f.bytes.empty() ||
                (parts.size() == 3 && parts[2] != "replace")) {
                *error = "--garbage takes N:HEX[:replace]";
                return false;
            }
            f.replace = parts.size() == 3;
            o->faults.garbage.push_back(f);
        } else if (arg == "--drop") {
            if (!number(&o->faults.drop_command))
                return false;
        } else if (arg == "--prompt-extra") {
            if (!value(&v))
                return false;
            if (!prompt_extra)
                prompt_extra = PromptExtraFault();
            if (!UnescapeBytes(v, &prompt_extra->text)) {
                *error = "--prompt-extra: bad escape";
                return false;
            }
        } else if (arg == "--prompt-extra-delay") {
            if (!prompt_extra)
                prompt_extra = PromptExtraFault();
            if (!number(&prompt_extra->delay_ms))
                return false;
        } else if (arg == "--cmti" || arg == "--cmti-at" || arg == "--cmt" || arg == "--cmt-at") {
            if (!value(&v))
                return false;
            auto parts = SplitColon(v);
            UnsolicitedFault f;
            f.kind = arg.rfind("--cmti", 0) == 0 ? "cmti" : "cmt";
            bool at = arg.size() > 3 && arg.compare(arg.size() - 3, 3, "-at") == 0;
            int when = 0;
            if (parts.size() > 2 || !ToInt(parts[0], &when) || (at ? false : when == 0)) {
                *error = arg + " takes a number and optionally :MEM";
                return false;
            }
            if (at) {
                f.at_ms = when;
            } else {
                f.command = when;
            }
            if (parts.size() == 2)
                f.storage = parts[1];
            o->faults.unsolicited.push_back(f);
        } else {
            *error = "unknown option " + arg;
            return false;
        }
    }
    if (prompt_extra)
        o->faults.prompt_extra = prompt_extra;
    if (!o->help && !o->version && o->state_file.empty()) {
        *error = "--state FILE is required";
        return false;
    }
    return true;
}

}  // namespace phonesim
