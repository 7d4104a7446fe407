#include "tools/phonesim/modem.h"

#include <vector>

namespace phonesim {
namespace {

constexpr size_t kMaxLine = 2048;  // longer command lines answer ERROR
constexpr size_t kMaxPduText = 1024;

const char* CmeText(int code) {
    switch (code) {
        case 0:
            return "phone failure";
        case 3:
            return "operation not allowed";
        case 4:
            return "operation not supported";
        case 10:
            return "SIM not inserted";
        case 11:
            return "SIM PIN required";
        case 12:
            return "SIM PUK required";
        case 13:
            return "SIM failure";
        case 16:
            return "incorrect password";
        case 20:
            return "memory full";
        case 21:
            return "invalid index";
        case 22:
            return "not found";
        case 24:
            return "text string too long";
        case 25:
            return "invalid characters in text string";
        case 26:
            return "dial string too long";
        case 27:
            return "invalid characters in dial string";
        case 30:
            return "no network service";
        default:
            return "unknown";
    }
}

}  // namespace

Modem::Modem(State* state, ModemHost* host) : state_(state), host_(host) {
    handlers_ = {
        {"E", &Modem::CmdEcho},
        {"V", &Modem::CmdVerbose},
        {"Q", &Modem::CmdQuiet},
        {"Z", &Modem::CmdReset},
        {"&F", &Modem::CmdReset},
        {"I", &Modem::CmdInfo},
        {"&C", &Modem::CmdAcceptBasic},
        {"&D", &Modem::CmdAcceptBasic},
        {"&W", &Modem::CmdAcceptBasic},
        {"X", &Modem::CmdAcceptBasic},
        {"L", &Modem::CmdAcceptBasic},
        {"M", &Modem::CmdAcceptBasic},
        {"D", &Modem::CmdDial},
        {"H", &Modem::CmdHangUp},
        {"A", &Modem::CmdAnswerCall},
        {"+CGMI", &Modem::CmdManufacturer},
        {"+GMI", &Modem::CmdManufacturer},
        {"+CGMM", &Modem::CmdModel},
        {"+GMM", &Modem::CmdModel},
        {"+CGMR", &Modem::CmdRevision},
        {"+GMR", &Modem::CmdRevision},
        {"+CGSN", &Modem::CmdSerial},
        {"+GSN", &Modem::CmdSerial},
        {"+CIMI", &Modem::CmdImsi},
        {"+COPS", &Modem::CmdOperator},
        {"+CREG", &Modem::CmdRegistration},
        {"+CSQ", &Modem::CmdSignal},
        {"+CMEE", &Modem::CmdErrorMode},
        {"+CNUM", &Modem::CmdSubscriberNumber},
        {"+CPAS", &Modem::CmdActivityStatus},
        {"+CFUN", &Modem::CmdFunctionality},
        {"+CSCS", &Modem::CmdCharset},
        {"+CSMS", &Modem::CmdSmsService},
        {"+CMGF", &Modem::CmdMessageFormat},
        {"+CSCA", &Modem::CmdServiceCentre},
        {"+CPMS", &Modem::CmdPreferredStorage},
        {"+CNMI", &Modem::CmdNewMessageIndication},
        {"+CMGR", &Modem::CmdReadMessage},
        {"+CMGL", &Modem::CmdListMessages},
        {"+CMGD", &Modem::CmdDeleteMessage},
        {"+CMGS", &Modem::CmdSendMessage},
        {"+CMGW", &Modem::CmdWriteMessage},
        {"+CPBS", &Modem::CmdPhonebookStorage},
        {"+CPBR", &Modem::CmdPhonebookRead},
        {"+CPBW", &Modem::CmdPhonebookWrite},
        {"+CPBF", &Modem::CmdPhonebookFind},
        {"+CPIN", &Modem::CmdPin},
        {"+CLCK", &Modem::CmdFacilityLock},
    };
    PowerOn();
}

void Modem::PowerOn() {
    echo_ = state_->echo;
    verbose_ = true;
    quiet_ = false;
    cmee_ = state_->cmee;
    charset_ = state_->charset;
    for (int i = 0; i < 3; ++i)
        mem_[i] = state_->sms_preferred[i];
    phonebook_ = state_->phonebook_selected;
    cnmi_ = state_->cnmi;
    s_registers_ = {{3, 13}, {4, 10}, {5, 8}};
    if (!state_->sim.pin_enabled) {
        sim_state_ = SimState::kReady;
    } else if (state_->sim.pin_attempts > 0) {
        sim_state_ = SimState::kPin;
    } else if (state_->sim.puk_attempts > 0) {
        sim_state_ = SimState::kPuk;
    } else {
        sim_state_ = SimState::kBlocked;
    }
    mode_ = Mode::kCommand;
    line_.clear();
    line_overflow_ = false;
}

void Modem::StateReloaded() {
    for (int i = 0; i < 3; ++i) {
        if (!state_->sms_storages.count(mem_[i]))
            mem_[i] = state_->sms_preferred[i];
    }
    if (!state_->phonebooks.count(phonebook_))
        phonebook_ = state_->phonebook_selected;
    if (!state_->sim.pin_enabled && sim_state_ == SimState::kPin)
        sim_state_ = SimState::kReady;
}

// ---------------------------------------------------------------------------
// Line discipline

void Modem::Receive(std::string_view bytes) {
    std::string echo;
    for (char c : bytes) {
        if (mode_ == Mode::kPdu) {
            if (echo_)
                echo.push_back(c);
            if (c == 0x1A || c == 0x1B) {
                if (!echo.empty())
                    host_->Echo(std::move(echo));
                echo.clear();
                FinishPdu(c == 0x1B);
                continue;
            }
            ReceivePduByte(c);
            continue;
        }
        if (echo_ && !IsSilent(commands_seen_ + 1))
            echo.push_back(c);
        if (c == static_cast<char>(s_registers_[3])) {
            std::vector<AtCommand> ignored;
            bool syntax_ok = false;
            if (SplitCommandLine(line_, &ignored, &syntax_ok) && !IsSilent(commands_seen_ + 1))
                SendUnsolicitedFor(commands_seen_ + 1, "before-echo");
            if (!echo.empty())
                host_->Echo(std::move(echo));
            echo.clear();
            std::string line = std::move(line_);
            line_.clear();
            ProcessLine(line);
            line_overflow_ = false;
            continue;
        }
        ReceiveCommandByte(c);
    }
    if (!echo.empty())
        host_->Echo(std::move(echo));
}

void Modem::ReceiveCommandByte(char c) {
    if (c == static_cast<char>(s_registers_[5])) {
        if (!line_.empty())
            line_.pop_back();
        return;
    }
    // Other control characters inside a command line are ignored, as a V.250
    // modem does (a line feed after the carriage return, a stray NUL).
    if (static_cast<unsigned char>(c) < 0x20)
        return;
    if (line_.size() >= kMaxLine) {
        line_overflow_ = true;
        return;
    }
    line_.push_back(c);
}

void Modem::ReceivePduByte(char c) {
    if (c == '\r' || c == '\n')
        return;
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex)
        pdu_bad_ = true;
    if (pdu_text_.size() >= kMaxPduText) {
        pdu_bad_ = true;
        return;
    }
    pdu_text_.push_back(c);
}

bool Modem::IsSilent(int command) const {
    for (const auto& s : faults().silence) {
        if (s.command <= 0 || command < s.command)
            continue;
        if (s.count <= 0 || command < s.command + s.count)
            return true;
    }
    return false;
}

void Modem::SendUnsolicitedFor(int command, const char* position, std::string* capture) {
    std::string* outer = capture_;
    if (capture)
        capture_ = capture;
    for (const auto& f : faults().unsolicited) {
        if (f.command == command && f.position == position)
            FireUnsolicited(f);
    }
    capture_ = outer;
}

void Modem::Emit(std::string bytes) {
    if (capture_)
        *capture_ += bytes;
    else
        host_->Answer(std::move(bytes), 0);
}

std::string Modem::AnswerHex(const std::string& pdu_hex) const {
    if (!state_->lowercase_hex)
        return pdu_hex;
    std::string out = pdu_hex;
    for (char& c : out) {
        if (c >= 'A' && c <= 'F')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

void Modem::ProcessLine(const std::string& line) {
    std::vector<AtCommand> commands;
    bool syntax_ok = false;
    if (!SplitCommandLine(line, &commands, &syntax_ok))
        return;  // not a command line
    int n = ++commands_seen_;
    if (IsSilent(n))
        return;
    if (faults().drop_command == n) {
        host_->DropLine();
        return;
    }
    int delay = state_->timing.delay_ms;
    bool replace = false;
    for (const auto& g : faults().garbage) {
        if (g.command != n)
            continue;
        host_->Answer(g.bytes, delay);
        replace |= g.replace;
    }
    SendUnsolicitedFor(n, "before");

    std::string info;
    Result r = Result::Ok();
    if (!syntax_ok || line_overflow_) {
        r = Result::Error();
    } else {
        for (const auto& cmd : commands) {
            auto it = handlers_.find(cmd.name);
            if (it == handlers_.end() && cmd.name.size() > 1 && cmd.name[0] == 'S' &&
                cmd.name[1] >= '0' && cmd.name[1] <= '9') {
                r = CmdSRegister(cmd, &info);
            } else if (it == handlers_.end()) {
                r = Result::Error();
            } else {
                r = (this->*(it->second))(cmd, &info);
            }
            if (r.kind != ResultKind::kOk)
                break;
        }
    }
    // An unsolicited line inside the answer: after the first line of the
    // information text, else ahead of the final result code (or prompt).
    std::string inside;
    SendUnsolicitedFor(n, "inside", &inside);
    if (!inside.empty()) {
        size_t first = info.find("\r\n", verbose_ && info.rfind("\r\n", 0) == 0 ? 2 : 0);
        size_t cut = first == std::string::npos ? info.size() : first + 2;
        info.insert(cut, inside);
    }
    // With the garbage fault in "replace" form the command is carried out but
    // its answer is lost in the noise.
    if (!replace && r.kind == ResultKind::kPrompt) {
        // The prompt is the four characters CR, LF, '>', blank.
        host_->Answer(info + "\r\n> ", delay);
        if (const auto& extra = faults().prompt_extra) {
            host_->Answer(extra->text, extra->delay_ms);
        }
    } else if (!replace) {
        host_->Answer(info + FinalText(r), delay);
    }
    SendUnsolicitedFor(n, "after");
}

// ---------------------------------------------------------------------------
// Framing (V.25ter)

std::string Modem::InfoText(const std::string& text) const {
    return verbose_ ? "\r\n" + text + "\r\n" : text + "\r\n";
}

std::string Modem::UnsolicitedText(const std::string& text) const {
    return InfoText(text);
}

std::string Modem::FinalText(const Result& r) const {
    if (quiet_ || r.kind == ResultKind::kNone)
        return "";
    std::string text;
    int numeric = 0;
    switch (r.kind) {
        case ResultKind::kOk:
            text = "OK";
            numeric = 0;
            break;
        case ResultKind::kNoCarrier:
            text = "NO CARRIER";
            numeric = 3;
            break;
        case ResultKind::kCme:
            if (cmee_ == 0) {
                text = "ERROR";
                numeric = 4;
            } else if (cmee_ == 2) {
                text = std::string("+CME ERROR: ") + CmeText(r.code);
                numeric = -1;
            } else {
                text = "+CME ERROR: " + std::to_string(r.code);
                numeric = -1;
            }
            break;
        case ResultKind::kCms:
            text = "+CMS ERROR: " + std::to_string(r.code);
            numeric = -1;
            break;
        default:
            text = "ERROR";
            numeric = 4;
            break;
    }
    if (verbose_)
        return "\r\n" + text + "\r\n";
    return (numeric >= 0 ? std::to_string(numeric) : text) + "\r";
}

// ---------------------------------------------------------------------------
// Basic commands

Modem::Result Modem::CmdEcho(const AtCommand& c, std::string*) {
    if (c.op != CmdOp::kExec || c.args.size() > 1)
        return Result::Error();
    if (c.args.empty() || c.args == "0") {
        echo_ = false;
    } else if (c.args == "1") {
        echo_ = true;
    } else {
        return Result::Error();
    }
    return Result::Ok();
}

Modem::Result Modem::CmdVerbose(const AtCommand& c, std::string*) {
    if (c.op != CmdOp::kExec)
        return Result::Error();
    if (c.args.empty() || c.args == "0") {
        verbose_ = false;
    } else if (c.args == "1") {
        verbose_ = true;
    } else {
        return Result::Error();
    }
    return Result::Ok();
}

Modem::Result Modem::CmdQuiet(const AtCommand& c, std::string*) {
    if (c.op != CmdOp::kExec)
        return Result::Error();
    if (c.args.empty() || c.args == "0") {
        quiet_ = false;
    } else if (c.args == "1") {
        quiet_ = true;
    } else {
        return Result::Error();
    }
    return Result::Ok();
}

Modem::Result Modem::CmdReset(const AtCommand& c, std::string*) {
    if (c.op != CmdOp::kExec || (!c.args.empty() && c.args != "0"))
        return Result::Error();
    SimState sim = sim_state_;
    PowerOn();
    sim_state_ = sim;
    return Result::Ok();
}

Modem::Result Modem::CmdInfo(const AtCommand& c, std::string* info) {
    if (c.op != CmdOp::kExec)
        return Result::Error();
    const Identity& id = state_->identity;
    AddInfo(info, id.manufacturer + "\r\n" + id.model + "\r\nRevision " + id.revision);
    return Result::Ok();
}

Modem::Result Modem::CmdAcceptBasic(const AtCommand& c, std::string*) {
    return c.op == CmdOp::kExec ? Result::Ok() : Result::Error();
}

Modem::Result Modem::CmdDial(const AtCommand& c, std::string*) {
    std::string dial = c.args;
    bool voice = !dial.empty() && dial.back() == ';';
    if (voice)
        dial.pop_back();
    if (dial.empty())
        return Result::Error();
    for (char ch : dial) {
        bool ok = (ch >= '0' && ch <= '9') || ch == '*' || ch == '#' || ch == '+' ||
                  (ch >= 'A' && ch <= 'D') || ch == 'P' || ch == 'T' || ch == 'W' || ch == ',' ||
                  ch == '!' || ch == '@' || ch == 'I' || ch == 'G' || ch == '>';
        if (!ok)
            return Result::Cme(27);
    }
    if (dial.size() > 40)
        return Result::Cme(26);
    if (sim_state_ != SimState::kReady || !state_->op.registered)
        return {ResultKind::kNoCarrier, 0};
    if (!voice)
        return {ResultKind::kNoCarrier, 0};  // no data service
    return Result::Ok();
}

Modem::Result Modem::CmdHangUp(const AtCommand& c, std::string*) {
    return c.op == CmdOp::kExec ? Result::Ok() : Result::Error();
}

Modem::Result Modem::CmdAnswerCall(const AtCommand& c, std::string*) {
    if (c.op != CmdOp::kExec)
        return Result::Error();
    return {ResultKind::kNoCarrier, 0};  // nobody is calling
}

Modem::Result Modem::CmdSRegister(const AtCommand& c, std::string* info) {
    int reg = std::stoi(c.name.substr(1));
    if (reg > 255)
        return Result::Error();
    if (c.op == CmdOp::kRead) {
        char buf[8];
        snprintf(buf, sizeof buf, "%03d", s_registers_.count(reg) ? s_registers_[reg] : 0);
        AddInfo(info, buf);
        return Result::Ok();
    }
    int value = std::stoi(c.args);
    if (value > 255)
        return Result::Error();
    if ((reg == 3 || reg == 5) && value == 0)
        return Result::Error();
    s_registers_[reg] = value;
    return Result::Ok();
}

// ---------------------------------------------------------------------------
// Identity, network, error mode

Modem::Result Modem::IdentityAnswer(const AtCommand& c, std::string* info,
                                    const std::string& value) {
    if (c.op == CmdOp::kTest)
        return Result::Ok();
    if (c.op != CmdOp::kExec)
        return Result::Error();
    AddInfo(info, value);
    return Result::Ok();
}

Modem::Result Modem::CmdManufacturer(const AtCommand& c, std::string* info) {
    return IdentityAnswer(c, info, state_->identity.manufacturer);
}
Modem::Result Modem::CmdModel(const AtCommand& c, std::string* info) {
    return IdentityAnswer(c, info, state_->identity.model);
}
Modem::Result Modem::CmdRevision(const AtCommand& c, std::string* info) {
    return IdentityAnswer(c, info, state_->identity.revision);
}
Modem::Result Modem::CmdSerial(const AtCommand& c, std::string* info) {
    return IdentityAnswer(c, info, state_->identity.serial);
}
Modem::Result Modem::CmdImsi(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kExec) {
        Result sim = SimCheckCme();
        if (sim.kind != ResultKind::kOk)
            return sim;
    }
    return IdentityAnswer(c, info, state_->identity.imsi);
}

Modem::Result Modem::CmdOperator(const AtCommand& c, std::string* info) {
    bool registered = state_->op.registered && sim_state_ == SimState::kReady;
    const Operator& op = state_->op;
    switch (c.op) {
        case CmdOp::kRead:
            if (registered) {
                AddInfo(info, "+COPS: " + std::to_string(op.mode) + "," +
                                  std::to_string(op.format) + ",\"" + op.name + "\"");
            } else {
                AddInfo(info, "+COPS: " + std::to_string(op.mode));
            }
            return Result::Ok();
        case CmdOp::kTest:
            AddInfo(info, registered ? "+COPS: (2,\"" + op.name + "\",\"" + op.name +
                                           "\",\"26299\"),,(0-4),(0-2)"
                                     : "+COPS: ,,(0-4),(0-2)");
            return Result::Ok();
        case CmdOp::kSet: {
            std::vector<AtArg> args;
            if (!ParseArgs(c.args, &args))
                return Result::Error();
            auto mode = ArgNumber(args[0]);
            if (!mode || *mode > 4)
                return Result::Error();
            if (*mode == 0 || *mode == 3)
                return Result::Ok();
            return Result::Cme(3);
        }
        default:
            return Result::Error();
    }
}

Modem::Result Modem::CmdRegistration(const AtCommand& c, std::string* info) {
    bool registered = state_->op.registered && sim_state_ == SimState::kReady;
    switch (c.op) {
        case CmdOp::kRead:
            AddInfo(info, registered ? "+CREG: 0,1" : "+CREG: 0,0");
            return Result::Ok();
        case CmdOp::kTest:
            AddInfo(info, "+CREG: (0-2)");
            return Result::Ok();
        case CmdOp::kSet: {
            std::vector<AtArg> args;
            if (!ParseArgs(c.args, &args))
                return Result::Error();
            auto n = ArgNumber(args[0]);
            return n && *n <= 2 ? Result::Ok() : Result::Error();
        }
        default:
            return Result::Error();
    }
}

Modem::Result Modem::CmdSignal(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kTest) {
        AddInfo(info, "+CSQ: (0-31,99),(0-7,99)");
        return Result::Ok();
    }
    if (c.op != CmdOp::kExec)
        return Result::Error();
    AddInfo(info, "+CSQ: " + std::to_string(state_->signal) + ",99");
    return Result::Ok();
}

Modem::Result Modem::CmdErrorMode(const AtCommand& c, std::string* info) {
    switch (c.op) {
        case CmdOp::kRead:
            AddInfo(info, "+CMEE: " + std::to_string(cmee_));
            return Result::Ok();
        case CmdOp::kTest:
            AddInfo(info, "+CMEE: (0-2)");
            return Result::Ok();
        case CmdOp::kSet: {
            std::vector<AtArg> args;
            if (!ParseArgs(c.args, &args) || args.size() != 1)
                return Result::Error();
            auto n = args[0].present ? ArgNumber(args[0]) : std::optional<int>(0);
            if (!n || *n > 2)
                return Result::Error();
            cmee_ = *n;
            return Result::Ok();
        }
        default:
            return Result::Error();
    }
}

Modem::Result Modem::CmdSubscriberNumber(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kTest)
        return Result::Ok();
    if (c.op != CmdOp::kExec)
        return Result::Error();
    Result sim = SimCheckCme();
    if (sim.kind != ResultKind::kOk)
        return sim;
    const std::string& own = state_->own_number;
    if (!own.empty()) {
        AddInfo(info, "+CNUM: ,\"" + own + "\"," + (own[0] == '+' ? "145" : "129"));
    }
    return Result::Ok();
}

Modem::Result Modem::CmdActivityStatus(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kTest) {
        AddInfo(info, "+CPAS: (0-5)");
        return Result::Ok();
    }
    if (c.op != CmdOp::kExec)
        return Result::Error();
    AddInfo(info, "+CPAS: 0");  // ready
    return Result::Ok();
}

Modem::Result Modem::CmdFunctionality(const AtCommand& c, std::string* info) {
    switch (c.op) {
        case CmdOp::kRead:
            AddInfo(info, "+CFUN: 1");
            return Result::Ok();
        case CmdOp::kTest:
            AddInfo(info, "+CFUN: (1),(0)");
            return Result::Ok();
        case CmdOp::kSet: {
            std::vector<AtArg> args;
            if (!ParseArgs(c.args, &args) || args.size() > 2)
                return Result::Error();
            auto fun = ArgNumber(args[0]);
            return fun && *fun == 1 ? Result::Ok() : Result::Cme(4);
        }
        default:
            return Result::Error();
    }
}

}  // namespace phonesim
