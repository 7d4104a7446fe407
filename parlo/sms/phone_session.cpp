#include "parlo/sms/phone_session.h"

#include "cordis/cordis.h"
#include "parlo/sms/error_list.h"
#include "parlo_strings.h"
#include "platform/prompt.h"
#include "platform/strings.h"
#include "platform/text.h"

namespace parlo {

namespace {

constexpr int kAttempts = 3;

bool Occurs(const std::u16string& needle, const std::u16string& haystack) {
    return haystack.find(needle) != std::u16string::npos;
}

}  // namespace

void NormaliseOperatorAnswer(std::u16string* answer) {
    std::u16string s;
    s.reserve(answer->size());
    for (char16_t c : *answer) {
        if (c == u' ')
            continue;
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
        s.push_back(c);
    }
    size_t first = s.find(u'"');
    if (first != std::u16string::npos) {
        size_t next = s.find(u'"', first + 1);
        s = s.substr(first + 1,
                     next == std::u16string::npos ? std::u16string::npos : next - first - 1);
    }
    *answer = std::move(s);
}

const ModemEntry* ChooseConnection(const std::vector<ModemEntry>& ports,
                                   const std::u16string& configured) {
    for (const ModemEntry& e : ports) {
        if (configured.empty() ? e.m_strPort == u"COM3:" : e.m_strName == configured)
            return &e;
    }
    if (configured.empty() && ports.size() == 1)
        return &ports.front();
    return nullptr;
}

std::u16string ConnectionAdvice(const std::vector<ModemEntry>& ports,
                                const std::u16string& configured) {
    const std::u16string add =
        u"Register the phone with 'parlo-cli modem add NAME DEVICE' (for example "
        u"/dev/ttyUSB0 or /dev/rfcomm0), or let 'parlo-cli modem detect' find it.";
    if (ports.empty())
        return u"No phone or modem is registered. " + add;
    std::u16string names;
    for (const ModemEntry& e : ports)
        names += (names.empty() ? u"\"" : u", \"") + e.m_strName + u"\"";
    const std::u16string choose =
        u"Choose one with 'parlo-cli options connection NAME' or \"Connection\" in the "
        u"Options dialog.";
    if (!configured.empty()) {
        return u"The connection \"" + configured + u"\" is not a registered modem (registered: " +
               names + u"). " + choose;
    }
    return u"Several modems are registered (" + names + u"). " + choose;
}

void CPhoneSession::ShowModal(unsigned id, const std::u16string& advice) {
    if (!ctx_.prompt)
        return;
    const platform::StringTable& table = ctx_.strings ? *ctx_.strings : strings::parlo();
    std::u16string text = table.Load(id);
    if (!advice.empty())
        text += u"\n\n" + advice;
    ctx_.prompt->MessageBox(text, platform::Buttons::Ok, platform::Icon::Warning);
}

int CPhoneSession::Command(const char* command, std::u16string* reply) {
    reply->clear();
    return ctx_.cordis->SendAndReceive(command, *reply, 0, SAR_TIMEOUT_COMMAND);
}

void CPhoneSession::ClosePort() {
    ctx_.cordis->ClosePort();
}

int CPhoneSession::SelectConnection() {
    const CSettings s = ctx_.Settings();
    const ModemEntry* found = ChooseConnection(*ctx_.ports, s.m_strConnection);
    if (!found)
        return 0;
    m_connection = *found;
    if (!s.m_strConnection.empty() && s.m_bUsePort)
        m_connection.m_strPort = s.m_strUserPort;
    m_line = LineSettings{};
    return 1;
}

int CPhoneSession::OpenPhone() {
    if (!SelectConnection()) {
        ShowModal(IDS_UNKNOWN_CONNECTION,
                  ConnectionAdvice(*ctx_.ports, ctx_.Settings().m_strConnection));
        return 0;
    }
    const CSettings s = ctx_.Settings();
    m_strPortName = s.m_bUsePort ? s.m_strUserPort : m_connection.m_strPort;
    if (!ctx_.cordis->OpenPort(m_strPortName)) {
        ctx_.errors->Add(IDS_NO_PORT);
        return 0;
    }
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!ctx_.cordis->SetParams(m_line.m_nBaudRate, m_line.m_nParity, m_line.m_nByteSize,
                                    m_line.m_nStopBits))
            continue;
        std::u16string reply;
        if (Command("AT", &reply) == 1 && reply.empty())
            return 1;
    }
    ctx_.errors->Add(IDS_NO_ANSWER);
    return 0;
}

int CPhoneSession::TryIdentify() {
    const CSettings s = ctx_.Settings();
    std::u16string reply;
    if (Command("AT", &reply) != 1 || !reply.empty())
        return 0;
    if (s.m_strPhoneModel.empty()) {
        std::u16string maker, model;
        if (Command("AT+CGMI", &maker) != 1)
            return 0;
        if (Command("AT+CGMM", &model) != 1)
            return 0;
        m_strManufacturer = maker;
        m_strModel = model;
    }
    if (s.m_strProvider.empty() && !s.m_bOwnSmsCentre) {
        if (Command("AT+COPS?", &reply) == 1)
            m_strOperatorAnswer = reply;
        if (Command("AT+CSCA?", &reply) == 1)
            m_strSmsCentreAnswer = reply;
    }
    return 1;
}

int CPhoneSession::IdentifyPhone() {
    const CSettings s = ctx_.Settings();
    if (!s.m_strPhoneModel.empty() && !s.m_strProvider.empty()) {
        const PhoneModelRecord* model = nullptr;
        for (const PhoneModelRecord& r : *ctx_.phones) {
            if (r.m_strName == s.m_strPhoneModel) {
                model = &r;
                break;
            }
        }
        if (!model) {
            ctx_.errors->Add(IDS_MODEL_NOT_FOUND);
            return 0;
        }
        m_phoneModel = *model;
    } else {
        bool identified = false;
        for (int attempt = 0; attempt < kAttempts && !identified; ++attempt)
            identified = TryIdentify() == 1;
        if (!identified) {
            ClosePort();
            ctx_.errors->Add(IDS_NO_ANSWER);
            return 0;
        }
        if (s.m_strPhoneModel.empty()) {
            m_phoneModel = PhoneModelRecord{};
            for (const PhoneModelRecord& r : *ctx_.phones) {
                if (!r.m_strManufacturerMatch.empty() && !r.m_strModelMatch.empty() &&
                    !m_strManufacturer.empty() && !m_strModel.empty() &&
                    Occurs(r.m_strManufacturerMatch, m_strManufacturer) &&
                    Occurs(r.m_strModelMatch, m_strModel)) {
                    m_phoneModel = r;
                    break;
                }
            }
        }
    }
    m_strDiagnosis.clear();
    if (!ResolveSmsCentre()) {
        if (!m_strDiagnosis.empty())
            ctx_.errors->Add(m_strDiagnosis);
        else
            ctx_.errors->Add(IDS_UNKNOWN_ISP);
        return 0;
    }
    return 1;
}

int CPhoneSession::ResolveSmsCentre() {
    const CSettings s = ctx_.Settings();
    if (s.m_bOwnSmsCentre) {
        m_strSmsCentre = s.m_strSmsCentre;
        return 1;
    }
    if (!s.m_strProvider.empty()) {
        for (const OperatorRecord& r : *ctx_.operators) {
            if (r.m_strName == s.m_strProvider) {
                m_operator = r;
                m_strSmsCentre = r.m_strSmsCentre;
                return 1;
            }
        }
        return 0;
    }
    // A phone that names no operator may only be waiting for its PIN, or
    // have no network: said as such, not as an operator missing from the
    // database.
    if (!Occurs(u"\"", m_strOperatorAnswer) && !MatchOperator()) {
        m_strDiagnosis = Diagnose();
        if (!m_strDiagnosis.empty())
            return 0;
    }
    std::optional<OperatorRecord> detected = DetectOperator();
    if (!detected)
        return 0;
    m_operator = *detected;
    m_strSmsCentre = m_operator.m_strSmsCentre;
    return 1;
}

std::optional<OperatorRecord> CPhoneSession::MatchOperator() const {
    std::u16string op = m_strOperatorAnswer, centre = m_strSmsCentreAnswer;
    NormaliseOperatorAnswer(&op);
    NormaliseOperatorAnswer(&centre);
    if (op.empty() && centre.empty())
        return std::nullopt;
    return MatchNormalised(op, centre);
}

std::u16string CPhoneSession::Diagnose() {
    std::u16string pin;
    if (Command("AT+CPIN?", &pin) == 1 && Occurs(u"PIN", pin) && !Occurs(u"READY", pin)) {
        return u"The SIM card asks for its PIN, so the phone has no network and the SMS "
               u"centre cannot be found. Enter the PIN on the phone and synchronise again.";
    }
    if (Occurs(u"PUK", pin)) {
        return u"The SIM card is blocked and asks for its PUK. Unblock it on the phone and "
               u"synchronise again.";
    }
    if (!Occurs(u"+COPS", m_strOperatorAnswer))
        return u"";  // the phone did not answer the question at all
    return u"The phone is not registered with a mobile network (it names no operator), so "
           u"the SMS centre cannot be found. Check the signal and the SIM card and "
           u"synchronise again.";
}

std::optional<OperatorRecord> CPhoneSession::MatchNormalised(const std::u16string& op,
                                                             const std::u16string& centre) const {
    for (const OperatorRecord& r : *ctx_.operators) {
        if (!op.empty()) {
            for (const std::u16string& name : r.m_strOperatorNames) {
                if (!name.empty() && name == op)
                    return r;
            }
        } else if (!r.m_strSmsCentre.empty() && Occurs(r.m_strSmsCentre, centre)) {
            return r;
        }
    }
    return std::nullopt;
}

std::optional<OperatorRecord> CPhoneSession::DetectOperator() {
    NormaliseOperatorAnswer(&m_strOperatorAnswer);
    NormaliseOperatorAnswer(&m_strSmsCentreAnswer);
    if (m_strOperatorAnswer.empty() && m_strSmsCentreAnswer.empty()) {
        ShowModal(IDS_ISP_AUTODETECT_FAILED);
        return std::nullopt;
    }
    std::optional<OperatorRecord> r = MatchNormalised(m_strOperatorAnswer, m_strSmsCentreAnswer);
    if (!r)
        ShowModal(IDS_ISP_NOT_FOUND);
    return r;
}

}  // namespace parlo
