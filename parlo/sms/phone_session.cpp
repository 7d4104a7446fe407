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

void CPhoneSession::ShowModal(unsigned id) {
    if (!ctx_.prompt)
        return;
    const platform::StringTable& table = ctx_.strings ? *ctx_.strings : strings::parlo();
    ctx_.prompt->MessageBox(table.Load(id), platform::Buttons::Ok, platform::Icon::Warning);
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
    const ModemEntry* found = nullptr;
    for (const ModemEntry& e : *ctx_.ports) {
        if (s.m_strConnection.empty() ? e.m_strPort == u"COM3:"
                                      : e.m_strName == s.m_strConnection) {
            found = &e;
            break;
        }
    }
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
        ShowModal(IDS_UNKNOWN_CONNECTION);
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
    if (!ResolveSmsCentre()) {
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
    std::optional<OperatorRecord> detected = DetectOperator();
    if (!detected)
        return 0;
    m_operator = *detected;
    m_strSmsCentre = m_operator.m_strSmsCentre;
    return 1;
}

std::optional<OperatorRecord> CPhoneSession::DetectOperator() {
    NormaliseOperatorAnswer(&m_strOperatorAnswer);
    NormaliseOperatorAnswer(&m_strSmsCentreAnswer);
    const std::u16string& op = m_strOperatorAnswer;
    const std::u16string& centre = m_strSmsCentreAnswer;
    if (op.empty() && centre.empty()) {
        ShowModal(IDS_ISP_AUTODETECT_FAILED);
        return std::nullopt;
    }
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
    ShowModal(IDS_ISP_NOT_FOUND);
    return std::nullopt;
}

}  // namespace parlo
