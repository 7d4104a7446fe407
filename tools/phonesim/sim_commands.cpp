// SIM PIN handling: AT+CPIN and AT+CLCK="SC" (3GPP TS 27.007).
#include "tools/phonesim/modem.h"

namespace phonesim {
namespace {

constexpr int kCmeNotAllowed = 3;
constexpr int kCmeNotSupported = 4;
constexpr int kCmeSimPinRequired = 11;
constexpr int kCmeSimPukRequired = 12;
constexpr int kCmeSimFailure = 13;
constexpr int kCmeIncorrectPassword = 16;

bool ValidPin(const std::string& pin) {
    if (pin.size() < 4 || pin.size() > 8)
        return false;
    for (char c : pin) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

}  // namespace

Modem::Result Modem::SimCheckCme() const {
    switch (sim_state_) {
        case SimState::kReady:
            return Result::Ok();
        case SimState::kPin:
            return Result::Cme(kCmeSimPinRequired);
        case SimState::kPuk:
            return Result::Cme(kCmeSimPukRequired);
        default:
            return Result::Cme(kCmeSimFailure);
    }
}

// Checks a PIN; a wrong one uses up an attempt and, at the last, asks for the
// PUK. Writes the state back either way.
bool Modem::CheckPin(const std::string& pin) {
    Sim& sim = state_->sim;
    if (pin == sim.pin) {
        sim.pin_attempts = 3;
        host_->StateChanged();
        return true;
    }
    if (sim.pin_attempts > 0)
        --sim.pin_attempts;
    if (sim.pin_attempts == 0)
        sim_state_ = SimState::kPuk;
    host_->StateChanged();
    return false;
}

Modem::Result Modem::CmdPin(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kTest)
        return Result::Ok();
    if (c.op == CmdOp::kRead) {
        switch (sim_state_) {
            case SimState::kReady:
                AddInfo(info, "+CPIN: READY");
                break;
            case SimState::kPin:
                AddInfo(info, "+CPIN: SIM PIN");
                break;
            case SimState::kPuk:
                AddInfo(info, "+CPIN: SIM PUK");
                break;
            default:
                return Result::Cme(kCmeSimFailure);
        }
        return Result::Ok();
    }
    if (c.op != CmdOp::kSet)
        return Result::Error();
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.empty() || args.size() > 2 || !args[0].quoted) {
        return Result::Error();
    }
    Sim& sim = state_->sim;
    switch (sim_state_) {
        case SimState::kReady:
            return Result::Cme(kCmeNotAllowed);
        case SimState::kPin:
            if (!CheckPin(args[0].text))
                return Result::Cme(kCmeIncorrectPassword);
            sim_state_ = SimState::kReady;
            return Result::Ok();
        case SimState::kPuk: {
            if (args.size() != 2 || !args[1].quoted || !ValidPin(args[1].text)) {
                return Result::Cme(kCmeIncorrectPassword);
            }
            if (args[0].text != sim.puk) {
                if (sim.puk_attempts > 0)
                    --sim.puk_attempts;
                if (sim.puk_attempts == 0)
                    sim_state_ = SimState::kBlocked;
                host_->StateChanged();
                return Result::Cme(kCmeIncorrectPassword);
            }
            sim.pin = args[1].text;
            sim.pin_attempts = 3;
            sim.puk_attempts = 10;
            sim_state_ = SimState::kReady;
            host_->StateChanged();
            return Result::Ok();
        }
        default:
            return Result::Cme(kCmeSimFailure);
    }
}

Modem::Result Modem::CmdFacilityLock(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kTest) {
        AddInfo(info, "+CLCK: (\"SC\")");
        return Result::Ok();
    }
    if (c.op != CmdOp::kSet)
        return Result::Error();
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.size() < 2 || args.size() > 4 || !args[0].quoted) {
        return Result::Error();
    }
    auto mode = ArgNumber(args[1]);
    if (!mode || *mode > 2)
        return Result::Error();
    if (args[0].text != "SC" && args[0].text != "sc")
        return Result::Cme(kCmeNotSupported);
    Result sim = SimCheckCme();
    if (sim.kind != ResultKind::kOk)
        return sim;
    if (*mode == 2) {
        AddInfo(info, state_->sim.pin_enabled ? "+CLCK: 1" : "+CLCK: 0");
        return Result::Ok();
    }
    if (args.size() < 3 || !args[2].present || !args[2].quoted) {
        return Result::Cme(kCmeIncorrectPassword);
    }
    if (!CheckPin(args[2].text))
        return Result::Cme(kCmeIncorrectPassword);
    state_->sim.pin_enabled = *mode == 1;
    host_->StateChanged();
    return Result::Ok();
}

}  // namespace phonesim
