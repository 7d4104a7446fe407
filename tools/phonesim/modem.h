// The phone's command interpreter: line discipline (echo, command line
// editing), V.25ter result framing, and the commands of 3GPP TS 27.007 and
// 27.005 that the phone knows. It knows nothing of the pseudo-terminal: it
// takes received bytes and hands its output to a host.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tools/phonesim/at_parser.h"
#include "tools/phonesim/state.h"

namespace phonesim {

class ModemHost {
  public:
    virtual ~ModemHost() = default;
    // An answer: goes out after everything queued before it, and not before
    // `delay_ms` from now.
    virtual void Answer(std::string bytes, int delay_ms) = 0;
    // Echo of received bytes: goes out at once (ahead of delayed answers).
    virtual void Echo(std::string bytes) = 0;
    // The line drops: the pseudo-terminal is closed.
    virtual void DropLine() = 0;
    // The state changed and must be written back.
    virtual void StateChanged() = 0;
    // The current time (the phone's clock for time stamps).
    virtual std::time_t Now() { return std::time(nullptr); }
};

enum class SimState { kReady, kPin, kPuk, kBlocked };

class Modem {
  public:
    Modem(State* state, ModemHost* host);

    // Power-on: runtime settings from the state (echo, error mode, storages,
    // character set, SIM PIN request).
    void PowerOn();

    // Bytes received from the line.
    void Receive(std::string_view bytes);

    // An incoming message. It is stored as received unread in `storage` (empty:
    // the storage for received messages chosen with AT+CPMS) and announced as
    // AT+CNMI asks, or always with "+CMTI" when `force_cmti`. Returns the index,
    // or 0 when the storage is full or unknown.
    int StoreIncoming(const std::string& storage, const std::string& pdu_hex, bool force_cmti);
    // Sends an unsolicited "+CMT:" line with the PDU (not stored).
    void DeliverCmt(const std::string& pdu_hex);
    // Fires the unsolicited fault `f` (stores/announces its message).
    void FireUnsolicited(const UnsolicitedFault& f);

    // Command lines received so far (counted from 1).
    int commands_seen() const { return commands_seen_; }
    SimState sim_state() const { return sim_state_; }

    // The state was replaced (reread from its file): keep the runtime settings
    // that still make sense.
    void StateReloaded();

    // The faults in force (by default those of the state).
    void SetFaults(const Faults* faults) { faults_ = faults; }
    const Faults& faults() const { return faults_ ? *faults_ : state_->faults; }

  private:
    enum class ResultKind { kOk, kError, kCme, kCms, kNoCarrier, kPrompt, kNone };
    struct Result {
        ResultKind kind = ResultKind::kOk;
        int code = 0;
        static Result Ok() { return {ResultKind::kOk, 0}; }
        static Result Error() { return {ResultKind::kError, 0}; }
        static Result Cme(int c) { return {ResultKind::kCme, c}; }
        static Result Cms(int c) { return {ResultKind::kCms, c}; }
    };
    using Handler = Result (Modem::*)(const AtCommand&, std::string* info);

    // Line discipline.
    void ReceiveCommandByte(char c);
    void ReceivePduByte(char c);
    void ProcessLine(const std::string& line);
    bool IsSilent(int command) const;
    // Fires the unsolicited faults of `command` at `position`; with `capture`
    // their bytes are returned there instead of being sent.
    void SendUnsolicitedFor(int command, const char* position, std::string* capture = nullptr);
    // Sends unsolicited bytes, or keeps them in capture_ while one is set.
    void Emit(std::string bytes);
    // A PDU as this phone writes it in answers.
    std::string AnswerHex(const std::string& pdu_hex) const;

    // Framing.
    std::string InfoText(const std::string& text) const;  // one information response
    std::string FinalText(const Result& r) const;
    std::string UnsolicitedText(const std::string& text) const;
    void AddInfo(std::string* info, const std::string& text) const { *info += InfoText(text); }

    // Commands: basic and identity (modem.cpp).
    Result CmdEcho(const AtCommand& c, std::string* info);
    Result CmdVerbose(const AtCommand& c, std::string* info);
    Result CmdQuiet(const AtCommand& c, std::string* info);
    Result CmdReset(const AtCommand& c, std::string* info);
    Result CmdInfo(const AtCommand& c, std::string* info);
    Result CmdAcceptBasic(const AtCommand& c, std::string* info);
    Result CmdDial(const AtCommand& c, std::string* info);
    Result CmdHangUp(const AtCommand& c, std::string* info);
    Result CmdAnswerCall(const AtCommand& c, std::string* info);
    Result CmdSRegister(const AtCommand& c, std::string* info);
    Result CmdManufacturer(const AtCommand& c, std::string* info);
    Result CmdModel(const AtCommand& c, std::string* info);
    Result CmdRevision(const AtCommand& c, std::string* info);
    Result CmdSerial(const AtCommand& c, std::string* info);
    Result CmdImsi(const AtCommand& c, std::string* info);
    Result CmdOperator(const AtCommand& c, std::string* info);
    Result CmdRegistration(const AtCommand& c, std::string* info);
    Result CmdSignal(const AtCommand& c, std::string* info);
    Result CmdErrorMode(const AtCommand& c, std::string* info);
    Result CmdSubscriberNumber(const AtCommand& c, std::string* info);
    Result CmdActivityStatus(const AtCommand& c, std::string* info);
    Result CmdFunctionality(const AtCommand& c, std::string* info);
    Result CmdCharset(const AtCommand& c, std::string* info);
    // Whether AT+CSCS offers the set (the state may restrict the list).
    bool OffersCharset(const std::string& name) const;
    Result IdentityAnswer(const AtCommand& c, std::string* info, const std::string& value);

    // SMS (sms_commands.cpp).
    Result CmdSmsService(const AtCommand& c, std::string* info);
    Result CmdMessageFormat(const AtCommand& c, std::string* info);
    Result CmdServiceCentre(const AtCommand& c, std::string* info);
    Result CmdPreferredStorage(const AtCommand& c, std::string* info);
    Result CmdNewMessageIndication(const AtCommand& c, std::string* info);
    Result CmdReadMessage(const AtCommand& c, std::string* info);
    Result CmdListMessages(const AtCommand& c, std::string* info);
    Result CmdDeleteMessage(const AtCommand& c, std::string* info);
    Result CmdSendMessage(const AtCommand& c, std::string* info);
    Result CmdWriteMessage(const AtCommand& c, std::string* info);
    Result SmsSimCheck() const;
    std::string PduAnswer(const SmsSlot& slot) const;
    void FinishPdu(bool cancelled);
    Result SendPdu(const std::string& pdu, std::string* info);
    Result WritePdu(const std::string& pdu, std::string* info);
    void Loopback(const std::string& submit_pdu);
    std::string IndicationFor(const std::string& storage, int index) const;

    // Phonebook (phonebook_commands.cpp).
    Result CmdPhonebookStorage(const AtCommand& c, std::string* info);
    Result CmdPhonebookRead(const AtCommand& c, std::string* info);
    Result CmdPhonebookWrite(const AtCommand& c, std::string* info);
    Result CmdPhonebookFind(const AtCommand& c, std::string* info);

    // SIM (sim_commands.cpp).
    Result CmdPin(const AtCommand& c, std::string* info);
    Result CmdFacilityLock(const AtCommand& c, std::string* info);
    Result SimCheckCme() const;
    bool CheckPin(const std::string& pin);

    State* state_;
    ModemHost* host_;
    const Faults* faults_ = nullptr;
    std::map<std::string, Handler> handlers_;

    // Runtime settings.
    bool echo_ = true;
    bool verbose_ = true;
    bool quiet_ = false;
    int cmee_ = 1;
    std::string charset_ = "GSM";
    std::string mem_[3] = {"SM", "SM", "SM"};
    std::string phonebook_ = "SM";
    std::array<int, 5> cnmi_ = {0, 0, 0, 0, 0};
    std::map<int, int> s_registers_;
    SimState sim_state_ = SimState::kReady;

    // Line state.
    enum class Mode { kCommand, kPdu };
    Mode mode_ = Mode::kCommand;
    std::string line_;
    bool line_overflow_ = false;
    int commands_seen_ = 0;
    // PDU entry after AT+CMGS / AT+CMGW.
    bool pdu_for_send_ = true;
    int pdu_length_ = 0;
    int pdu_status_ = kStatusUnsent;
    std::string pdu_text_;
    bool pdu_bad_ = false;
    std::string* capture_ = nullptr;
};

}  // namespace phonesim
