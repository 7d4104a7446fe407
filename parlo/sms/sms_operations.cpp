#include "parlo/sms/sms_operations.h"

#include <atomic>
#include <cstdio>
#include <random>
#include <string_view>
#include <vector>

#include "cordis/cordis.h"
#include "parlo/sms/engine_view.h"
#include "parlo/sms/error_list.h"
#include "parlo/sms/pdu_codec.h"
#include "parlo/sms/phone_session.h"
#include "parlo/store/message_store.h"
#include "platform/oledate.h"
#include "platform/text.h"

namespace parlo {

namespace {

constexpr size_t kMaxPduChars = 901;

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string Trim(const std::u16string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsSpace(s[b]))
        ++b;
    while (e > b && IsSpace(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

// "YYMMDDhhmmss..." as a local time of this century; the current time when the
// digits do not make a valid date and time.
platform::OleDate TimeFromStamp(const std::string& stamp, bool* valid = nullptr) {
    if (valid)
        *valid = false;
    int v[6];
    if (stamp.size() < 12)
        return platform::OleDate::Now();
    for (int i = 0; i < 6; ++i) {
        char a = stamp[2 * i], b = stamp[2 * i + 1];
        if (a < '0' || a > '9' || b < '0' || b > '9')
            return platform::OleDate::Now();
        v[i] = (a - '0') * 10 + (b - '0');
    }
    platform::OleDate t = platform::OleDate::FromLocal(2000 + v[0], v[1], v[2], v[3], v[4], v[5]);
    if (!t.IsValid())
        return platform::OleDate::Now();
    if (valid)
        *valid = true;
    return t;
}

int32_t StorageCode(const std::string& storage) {
    return storage == "ME" ? STORAGE_PHONE : STORAGE_SIM;
}

std::string SelectCommand(const std::string& storage) {
    return "AT+CPMS=\"" + storage + "\"";
}

}  // namespace

std::u16string ExtractField(const std::u16string& text, const std::u16string& start,
                            const std::u16string& end, int n, int m) {
    auto nth = [&text](const std::u16string& delim, int count) -> size_t {
        if (delim.empty() || count < 1)
            return 0;
        size_t pos = 0;
        size_t from = 0;
        for (int k = 0; k < count; ++k) {
            pos = text.find(delim, from);
            if (pos == std::u16string::npos)
                return 0;
            from = pos + 1;
        }
        return pos;
    };
    size_t s = nth(start, n);
    size_t e = nth(end, m);
    if (s < 1 || s >= text.size() || e < 1 || e >= text.size())
        return {};
    size_t first = s + start.size();
    if (e < first || e <= s)
        return {};
    return text.substr(first, e - first);
}

const char* StorageName(int32_t storage) {
    return storage == STORAGE_PHONE ? "ME" : storage == STORAGE_SIM ? "SM" : "XX";
}

std::string PhoneKey(const std::string& storage, int slot) {
    return storage + "#" + std::to_string(slot);
}

std::u16string CmgrFailureText(int code) {
    switch (code) {
        case CMGR_NOT_CMGR:
            return u"the answer is not a message";
        case CMGR_NO_LINE_END:
        case CMGR_TOO_SHORT:
            return u"the answer holds no message";
        case CMGR_PDU_TOO_LONG:
            return u"the message is too long";
        case CMGR_BAD_PDU:
            return u"the message cannot be decoded";
        case CMGR_EMPTY_TEXT:
            return u"the message has no text";
        case CMGR_BAD_STATUS:
            return u"the slot has an unknown status";
        default:
            return u"unknown reason";
    }
}

int DecodeCmgrReply(const std::u16string& reply, const std::string& storage, int slot, int mode,
                    std::unique_ptr<CSmsMessage>* out, bool* stamped, CPduMessage* pdu_out) {
    out->reset();
    if (stamped)
        *stamped = false;
    static const std::u16string kPrefix = u"+CMGR:";
    if (reply.compare(0, kPrefix.size(), kPrefix) != 0)
        return CMGR_NOT_CMGR;
    size_t eol = reply.find(u"\r\n");
    if (eol == std::u16string::npos)
        return CMGR_NO_LINE_END;
    // The status: the number after the prefix, up to the comma.
    size_t p = kPrefix.size();
    while (p < eol && reply[p] == u' ')
        ++p;
    int status = -1;
    if (p + 1 < eol && reply[p] >= u'0' && reply[p] <= u'9' && reply[p + 1] == u',')
        status = reply[p] - u'0';
    if (status < 0 || status > 3) {
        if (mode == CMGR_MODE_READ)
            return CMGR_BAD_STATUS;
    }
    std::string pdu = platform::NarrowLow8(std::u16string_view(reply).substr(eol + 2));
    if (pdu.size() < 3)
        return CMGR_TOO_SHORT;
    if (pdu.size() >= kMaxPduChars)
        return CMGR_PDU_TOO_LONG;
    // Phones answer in either case.
    for (char& c : pdu) {
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    }

    CPduMessage parsed;
    int rc = CPduCodec::ParsePdu(pdu, &parsed);
    if (rc < 0)
        return CMGR_BAD_PDU;
    if (parsed.m_nType == PDU_TYPE_STATUS_REPORT)
        return CMGR_DONE;  // a delivery report: no message of the user's
    bool submit = parsed.m_nType == PDU_TYPE_SUBMIT;
    if (submit && status == 2)
        return CMGR_DONE;  // a draft stored on the phone
    // The codec gives Unicode text already. Line ends become CR LF.
    std::u16string text;
    text.reserve(parsed.m_strText.size() + 8);
    for (char16_t c : parsed.m_strText) {
        if (c == u'\n')
            text.push_back(u'\r');
        text.push_back(c);
    }
    text = Trim(text);
    CPduConcat concat;
    // A part of a longer message may be blanks alone.
    if (text.empty() && !CPduCodec::FindConcat(parsed.m_strUdh, &concat))
        return CMGR_EMPTY_TEXT;
    bool own_stamp = false;
    platform::OleDate time =
        submit ? platform::OleDate::Now() : TimeFromStamp(parsed.m_strTimestamp, &own_stamp);
    if (stamped)
        *stamped = own_stamp;

    // The slot status says only read or unread (and sent, which the PDU's
    // own type says as well).
    int32_t state;
    if (status < 0 || status > 3)
        state = STATE_IN_FOLDER;  // checking only
    else if (submit)
        state = STATE_PHONE_SENT;
    else
        state = status == 0 ? STATE_UNREAD : STATE_READ;
    *out = std::make_unique<CSmsMessage>(state, parsed.m_strNumber, std::move(text), time, 0,
                                         StorageCode(storage), slot, -1, 0);
    if (pdu_out)
        *pdu_out = std::move(parsed);
    return CMGR_DONE;
}

bool SamePhoneMessage(const CSmsMessage& record, const CSmsMessage& read, bool stamped) {
    if (record.m_strNumber != read.m_strNumber || record.m_strText != read.m_strText)
        return false;
    // Both times come from the same stamp through the same conversion; half
    // a second covers a value that went through a file and back.
    constexpr double kHalfSecond = 0.5 / 86400.0;
    double d = record.m_time.m_dt - read.m_time.m_dt;
    return !stamped || (d < kHalfSecond && d > -kHalfSecond);
}

int CSmsOperations::Command(const std::string& command, std::u16string* reply) {
    reply->clear();
    int rc = ctx_.cordis->SendAndReceive(command, *reply, 0, SAR_TIMEOUT_COMMAND);
    // A phone that echoes the carriage return after a message body's Ctrl-Z
    // leaves that byte in front of the next answer, which then starts with a
    // stray line end: the answer is read without it.
    size_t lead = 0;
    while (lead < reply->size() && ((*reply)[lead] == u'\r' || (*reply)[lead] == u'\n'))
        ++lead;
    reply->erase(0, lead);
    return rc;
}

int CSmsOperations::SendPart(const std::u16string& number, const CSmsPlan& plan,
                             const std::u16string& text, size_t k, int push, int reference,
                             SendReport* report) {
    std::string num = platform::NarrowLow8(number);
    std::string smsc = platform::NarrowLow8(session_->SmsCentre());
    std::string hex;
    int length = BuildPartPdu(&hex, plan, text, k, num, smsc, push == 1, reference);
    if (length < 0) {
        ctx_.errors->Add(IDS_CANNOT_CREATE_SMS);
        return 0;
    }
    std::u16string reply;
    char command[32];
    std::snprintf(command, sizeof command, "AT+CMGS=%i", length);
    Command(command, &reply);
    if (reply != u">")
        return 0;
    reply.clear();
    hex.push_back('\x1A');
    int rc = ctx_.cordis->SendAndReceive(hex, reply, 1, m_nSendAnswerSeconds);
    size_t at = reply.find(u"+CMGS:");
    if (at == std::u16string::npos)
        at = reply.find(u"CMGS");
    if (at != std::u16string::npos) {
        // The message reference follows the prefix.
        size_t p = reply.find(u':', at);
        int ref = -1;
        if (p != std::u16string::npos) {
            ++p;
            while (p < reply.size() && reply[p] == u' ')
                ++p;
            for (; p < reply.size() && reply[p] >= u'0' && reply[p] <= u'9' && ref < 1000; ++p)
                ref = (ref < 0 ? 0 : ref * 10) + (reply[p] - u'0');
        }
        if (report && report->reference < 0)
            report->reference = ref;
        return 1;
    }
    std::u16string final_result = ctx_.cordis->LastFinalResult();
    if (rc == 1 && reply.empty() && !final_result.empty() && final_result != u"OK") {
        // The phone refused it: not sent.
        ctx_.errors->Add(IDS_SEND_ERROR);
        return 0;
    }
    // No answer, or none that belongs to the body: the message may have gone
    // out.
    if (report)
        report->fate_unknown = true;
    return 0;
}

int CSmsOperations::SendSms(const std::u16string& number, const std::u16string& text, int push,
                            SendReport* report) {
    CSmsPlan plan = PlanSms(text, false);
    // One message whatever its length: a text that does not fit fails to build.
    plan.m_scheme = SmsScheme::kSingle;
    plan.m_pieces.assign(1, CSmsPiece{0, text.size()});
    return SendPart(number, plan, text, 0, push, 0, report);
}

namespace {

// The reference numbers of concatenated messages: consecutive from a random
// start, so that two programs sending at once rarely pick the same.
int NextConcatReference() {
    static std::atomic<unsigned> next{static_cast<unsigned>(std::random_device{}())};
    return static_cast<int>(next.fetch_add(1) & 0xFF);
}

}  // namespace

int CSmsOperations::SendLongSms(const std::u16string& number, const std::u16string& text, int push,
                                SendReport* report) {
    bool concatenated = ctx_.settings && ctx_.Settings().m_bConcatenated;
    CSmsPlan plan = PlanSms(text, concatenated);
    int reference = plan.m_scheme == SmsScheme::kConcatenated ? NextConcatReference() : 0;
    for (size_t k = 0; k < plan.Count(); ++k) {
        if (!SendPart(number, plan, text, k, push, reference, report))
            return 0;
    }
    return 1;
}

void CSmsOperations::OnUnsolicited(const std::u16string& line) {
    if (line.rfind(u"+CMT:", 0) != 0)
        return;
    size_t eol = line.find(u"\r\n");
    if (eol == std::u16string::npos)
        return;
    std::lock_guard<std::mutex> lock(m_deliveryMutex);
    m_deliveries.push_back(platform::NarrowLow8(std::u16string_view(line).substr(eol + 2)));
}

void CSmsOperations::StoreDeliveries() {
    std::vector<std::string> pdus;
    {
        std::lock_guard<std::mutex> lock(m_deliveryMutex);
        pdus.swap(m_deliveries);
    }
    std::vector<std::pair<std::u16string, std::u16string>> delivered_parts;
    for (std::string& pdu : pdus) {
        for (char& c : pdu) {
            if (c >= 'a' && c <= 'f')
                c = static_cast<char>(c - 'a' + 'A');
        }
        CPduMessage parsed;
        if (CPduCodec::ParsePdu(pdu, &parsed) < 0 || parsed.m_nType != PDU_TYPE_DELIVER) {
            ctx_.errors->AddFormatted(IDS_DELIVERY_NOT_SAVED, {u"?", platform::Cp1252ToUtf16(pdu)});
            continue;
        }
        std::u16string text;
        for (char16_t c : parsed.m_strText) {
            if (c == u'\n')
                text.push_back(u'\r');
            text.push_back(c);
        }
        text = Trim(text);
        auto msg = std::make_unique<CSmsMessage>(STATE_UNREAD, parsed.m_strNumber, text,
                                                 TimeFromStamp(parsed.m_strTimestamp), 0,
                                                 STORAGE_POCKETPC, -1, -1, 0);
        // A part of a long message joins its other parts (it has no slot).
        if (TakePart(parsed, *msg)) {
            delivered_parts.emplace_back(parsed.m_strNumber, text);
            continue;
        }
        StoreResult result = StoreResult::kOk;
        CSmsMessage* rec = ctx_.store->Add(std::move(msg), &result);
        if (result != StoreResult::kOk)
            ctx_.errors->AddFormatted(IDS_DELIVERY_NOT_SAVED, {parsed.m_strNumber, text});
        if (rec)
            ctx_.view->MessageAdded(rec);
    }
    if (!StoreParts()) {
        for (const auto& [number, text] : delivered_parts)
            ctx_.errors->AddFormatted(IDS_DELIVERY_NOT_SAVED, {number, text});
    }
}

void CSmsOperations::RestoreView() {
    ctx_.view->ShowProgress(false);
    ctx_.view->ShowStatusText(true);
}

void CSmsOperations::FailRead(unsigned id) {
    ctx_.errors->Add(id);
    ctx_.cordis->ClosePort();
    RestoreView();
}

int CSmsOperations::StorageSize(const std::u16string& reply) {
    std::u16string used = ExtractField(reply, u":", u",", 1, 1);
    std::u16string size = ExtractField(reply, u",", u",", 1, 2);
    if (!used.empty())
        used.erase(0, 1);
    if (used.empty() || size.empty()) {
        FailRead(IDS_BAD_RESPONSE);
        return 0;
    }
    // The integer value of the leading digits, as atoi reads it.
    long n = 0;
    size_t i = 0;
    while (i < size.size() && IsSpace(size[i]))
        ++i;
    for (; i < size.size() && size[i] >= u'0' && size[i] <= u'9' && n < 100000; ++i)
        n = n * 10 + (size[i] - u'0');
    if (n == 0)
        n = session_->PhoneModel().m_nStorageSize;
    if (n <= 0) {
        FailRead(IDS_NO_MEMORY_SIZE);
        return 0;
    }
    return static_cast<int>(n);
}

int CSmsOperations::ParseCmgrReply(const std::u16string& reply, const std::string& storage,
                                   int slot, int mode, std::unique_ptr<CSmsMessage>* out) {
    std::unique_ptr<CSmsMessage> msg;
    CPduMessage pdu;
    int rc = DecodeCmgrReply(reply, storage, slot, mode, &msg, nullptr, &pdu);
    if (rc != CMGR_DONE || !msg)
        return rc;
    if (mode == CMGR_MODE_READ && TakePart(pdu, *msg))
        return CMGR_DONE;  // joined with its other parts after the read
    if (mode == CMGR_MODE_READ)
        m_readMap[{msg->m_nStorage, slot}] = std::move(msg);
    else if (out)
        *out = std::move(msg);
    return CMGR_DONE;
}

void CSmsOperations::SkipSlot(const std::string& storage, int slot, const std::u16string& reason) {
    ctx_.errors->AddFormatted(
        IDS_SLOT_SKIPPED,
        {platform::WidenBytes(storage), platform::WidenBytes(std::to_string(slot)), reason});
}

int CSmsOperations::VerifyOnPhone(const CSmsMessage& msg) {
    std::string storage = msg.m_nStorage == STORAGE_SIM ? "SM" : "ME";
    std::u16string reply;
    if (!Command(SelectCommand(storage), &reply)) {
        ctx_.errors->Add(IDS_READ_ERROR);
        m_bCommError = true;
        return 0;
    }
    if (!Command("AT+CMGR=" + std::to_string(msg.m_nPhoneIndex), &reply)) {
        m_bCommError = true;
        return 0;
    }
    if (reply.empty())
        return 0;
    std::unique_ptr<CSmsMessage> found;
    bool stamped = false;
    DecodeCmgrReply(reply, StorageName(msg.m_nStorage), msg.m_nPhoneIndex, CMGR_MODE_CHECK, &found,
                    &stamped);
    if (!found)
        return 0;
    // A message in a reused slot with the same text is another one: its
    // time stamp tells.
    return SamePhoneMessage(msg, *found, stamped) && found->m_nStorage == msg.m_nStorage &&
           found->m_nPhoneIndex == msg.m_nPhoneIndex;
}

int CSmsOperations::DeleteOnPhone(CSmsMessage* msg) {
    if (int parts = DeleteMessageParts(msg); parts >= 0)
        return parts;
    m_bCommError = false;
    // A copy: the window may take in other programs' changes meanwhile.
    const CSmsMessage order = ctx_.store->Copy(msg);
    if (VerifyOnPhone(order) == 1) {
        std::string storage = order.m_nStorage == STORAGE_SIM ? "SM" : "ME";
        std::u16string reply;
        if (!Command(SelectCommand(storage), &reply))
            return 0;
        if (!Command("AT+CMGD=" + std::to_string(order.m_nPhoneIndex), &reply))
            return 0;
        // The slot is free now: the record no longer points at it, so that a
        // new message there is new even when its text repeats.
        if (ctx_.cordis->LastFinalResult() == u"OK") {
            ctx_.store->Change(msg, [](CSmsMessage& m) {
                m.m_nState = STATE_DELETED;
                m.m_nStorage = STORAGE_POCKETPC;
                m.m_nPhoneIndex = -1;
            });
            ctx_.view->MessageChanged(msg);
            return m_bCommError ? 0 : 1;
        }
    }
    ctx_.store->Change(msg, [](CSmsMessage& m) { m.m_nState = STATE_DELETED; });
    ctx_.view->MessageChanged(msg);
    return m_bCommError ? 0 : 1;
}

int CSmsOperations::ClearPhoneStorage(const std::string& storage) {
    ctx_.view->ShowProgress(true);
    std::u16string reply;
    if (!Command(SelectCommand(storage), &reply)) {
        FailRead(IDS_COMM_ERROR);
        return 0;
    }
    if (reply.compare(0, 6, u"+CPMS:") != 0) {
        RestoreView();
        return 1;
    }
    int n = StorageSize(reply);
    if (n == 0)
        return 0;
    ctx_.view->SetProgressRange(0, n);
    ctx_.view->SetProgressPos(0);
    for (int i = 1; i <= n; ++i) {
        ctx_.view->StepProgress();
        if (!Command("AT+CMGD=" + std::to_string(i), &reply)) {
            ctx_.errors->Add(IDS_COMM_ERROR);
            break;
        }
    }
    RestoreView();
    return 1;
}

}  // namespace parlo
