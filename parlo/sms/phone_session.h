// The phone session: choosing the connection, opening the port, checking that
// the phone answers, identifying phone and operator and settling the SMS
// centre number that outgoing messages carry.
//
// Calling order of every client: StartSAR; OpenPhone; IdentifyPhone; the
// work; ClosePort; StopSAR. When OpenPhone or IdentifyPhone fails the client
// closes the port and stops the listener itself.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "parlo/sms/engine_context.h"
#include "parlo/store/device_db.h"
#include "parlo/store/port_list.h"

namespace parlo {

// String ids of the session's messages.
inline constexpr unsigned IDS_UNKNOWN_CONNECTION = 65025;
inline constexpr unsigned IDS_NO_PORT = 65026;
inline constexpr unsigned IDS_NO_ANSWER = 65028;
inline constexpr unsigned IDS_MODEL_NOT_FOUND = 65029;
inline constexpr unsigned IDS_UNKNOWN_ISP = 65030;
inline constexpr unsigned IDS_ISP_AUTODETECT_FAILED = 65039;
inline constexpr unsigned IDS_ISP_NOT_FOUND = 65040;

// Line settings of the current connection.
struct LineSettings {
    int m_nBaudRate = 9600;
    int m_nByteSize = 8;
    int m_nParity = 0;
    int m_nStopBits = 0;
    int m_nFurther = 16;
};

class CPhoneSession {
  public:
    explicit CPhoneSession(const CEngineContext& ctx) : ctx_(ctx) {}

    // Each returns 1 or 0.
    int OpenPhone();
    int IdentifyPhone();
    int SelectConnection();
    int ResolveSmsCentre();
    // The operator record matching the kept answers (which it normalises in
    // place), or none; shows 65039 or 65040 as a modal message on failure.
    std::optional<OperatorRecord> DetectOperator();
    // Why the last IdentifyPhone failed when the phone itself is the cause (a
    // SIM that asks for its PIN, no network); empty otherwise.
    const std::u16string& Diagnosis() const { return m_strDiagnosis; }
    // Closes the port of the shared phone link.
    void ClosePort();

    // The SMS centre number that outgoing messages carry.
    std::u16string SmsCentre() const { return m_strSmsCentre; }
    const PhoneModelRecord& PhoneModel() const { return m_phoneModel; }
    const OperatorRecord& Operator() const { return m_operator; }
    const ModemEntry& Connection() const { return m_connection; }
    const LineSettings& Line() const { return m_line; }
    // The port the last OpenPhone opened (the user's port or the connection's).
    const std::u16string& PortName() const { return m_strPortName; }
    const std::u16string& ManufacturerText() const { return m_strManufacturer; }
    const std::u16string& ModelText() const { return m_strModel; }
    std::u16string& OperatorAnswer() { return m_strOperatorAnswer; }
    std::u16string& SmsCentreAnswer() { return m_strSmsCentreAnswer; }

  private:
    void ShowModal(unsigned id, const std::u16string& advice = u"");
    int Command(const char* command, std::u16string* reply);
    int TryIdentify();
    // The operator the kept answers name, without changing them or showing
    // anything; none when they name none in the database.
    std::optional<OperatorRecord> MatchOperator() const;
    std::optional<OperatorRecord> MatchNormalised(const std::u16string& op,
                                                  const std::u16string& centre) const;
    // Asks the phone why it names no operator: PIN, PUK or no network.
    std::u16string Diagnose();

    CEngineContext ctx_;
    ModemEntry m_connection;
    std::u16string m_strPortName;
    LineSettings m_line;
    PhoneModelRecord m_phoneModel;  // the default model until identified
    OperatorRecord m_operator;
    std::u16string m_strSmsCentre;
    std::u16string m_strManufacturer;
    std::u16string m_strModel;
    std::u16string m_strOperatorAnswer;
    std::u16string m_strSmsCentreAnswer;
    std::u16string m_strDiagnosis;
};

// The port list entry that a session uses. With a configured connection name:
// the entry of that name. With none: the entry whose port is "COM3:" (the
// handheld's default, kept for installations that hold one), else the one
// registered modem. Null when none fits (no modem, or several and none chosen).
const ModemEntry* ChooseConnection(const std::vector<ModemEntry>& ports,
                                   const std::u16string& configured);

// What to do when ChooseConnection finds nothing, in this platform's words:
// how to register a modem, or how to choose one of several.
std::u16string ConnectionAdvice(const std::vector<ModemEntry>& ports,
                                const std::u16string& configured);

// Reduces an operator or SMS centre answer as the detection compares it:
// blanks removed, upper case, and only the text between the first double
// quote and the next one (when there is a first one).
void NormaliseOperatorAnswer(std::u16string* answer);

}  // namespace parlo
