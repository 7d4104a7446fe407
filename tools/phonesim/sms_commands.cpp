// The SMS commands of 3GPP TS 27.005 in PDU mode.
#include <cstdio>
#include <vector>

#include "tools/phonesim/charset.h"
#include "tools/phonesim/hex.h"
#include "tools/phonesim/modem.h"
#include "tools/phonesim/sms_pdu.h"

namespace phonesim {
namespace {

// Hands the last sent message to its recipient: a single message at once, a
// part of a concatenated message once every part of it has arrived, whatever
// their order, joined in part order.
void Deliver(State* state) {
    const SentMessage& last = state->sent.back();
    if (last.concat_ref < 0) {
        state->delivered.push_back({last.to, last.text, 1});
        return;
    }
    std::vector<SentMessage*> parts(static_cast<size_t>(last.concat_total), nullptr);
    for (SentMessage& m : state->sent) {
        if (m.joined || m.concat_ref != last.concat_ref || m.concat_total != last.concat_total ||
            m.to != last.to)
            continue;
        parts[static_cast<size_t>(m.concat_seq - 1)] = &m;  // a repeated part replaces
    }
    DeliveredMessage whole{last.to, "", last.concat_total};
    for (SentMessage* m : parts) {
        if (!m)
            return;  // still waiting for a part
        whole.text += m->text;
    }
    for (SentMessage* m : parts)
        m->joined = true;
    state->delivered.push_back(whole);
}

// +CMS ERROR values of 27.005.
constexpr int kCmsNotAllowed = 302;
constexpr int kCmsNotSupported = 303;
constexpr int kCmsInvalidPduParameter = 304;
constexpr int kCmsSimNotInserted = 310;
constexpr int kCmsSimPinRequired = 311;
constexpr int kCmsSimPukRequired = 316;
constexpr int kCmsInvalidIndex = 321;
constexpr int kCmsMemoryFull = 322;
constexpr int kCmsSmscUnknown = 330;
constexpr int kCmsNoNetwork = 331;

std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

int PduLength(const SmsSlot& slot) {
    if (slot.length)
        return *slot.length;
    std::string bytes;
    if (HexToBytes(slot.pdu, &bytes)) {
        int n = TpduLength(bytes);
        if (n >= 0)
            return n;
    }
    return static_cast<int>(slot.pdu.size() / 2);
}

// Digits of a number with "+" and an international "00" prefix removed.
std::string NumberKey(const std::string& number) {
    std::string digits;
    for (char c : number) {
        if (c >= '0' && c <= '9')
            digits.push_back(c);
    }
    if (number.rfind("00", 0) == 0 && digits.size() > 2)
        digits.erase(0, 2);
    return digits;
}

std::string TimeText(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char buf[40];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &local);
    return buf;
}

}  // namespace

Modem::Result Modem::SmsSimCheck() const {
    switch (sim_state_) {
        case SimState::kReady:
            return Result::Ok();
        case SimState::kPin:
            return Result::Cms(kCmsSimPinRequired);
        case SimState::kPuk:
            return Result::Cms(kCmsSimPukRequired);
        default:
            return Result::Cms(kCmsSimNotInserted);
    }
}

Modem::Result Modem::CmdSmsService(const AtCommand& c, std::string* info) {
    switch (c.op) {
        case CmdOp::kRead:
            AddInfo(info, "+CSMS: 0,1,1,1");
            return Result::Ok();
        case CmdOp::kTest:
            AddInfo(info, "+CSMS: (0)");
            return Result::Ok();
        case CmdOp::kSet:
            if (c.args != "0")
                return Result::Cms(kCmsNotAllowed);
            AddInfo(info, "+CSMS: 1,1,1");
            return Result::Ok();
        default:
            return Result::Error();
    }
}

Modem::Result Modem::CmdMessageFormat(const AtCommand& c, std::string* info) {
    switch (c.op) {
        case CmdOp::kRead:
            AddInfo(info, "+CMGF: 0");
            return Result::Ok();
        case CmdOp::kTest:
            AddInfo(info, "+CMGF: (0)");
            return Result::Ok();
        case CmdOp::kSet:
            // Only PDU mode; text mode (1) is not supported.
            return c.args.empty() || c.args == "0" ? Result::Ok() : Result::Error();
        default:
            return Result::Error();
    }
}

Modem::Result Modem::CmdServiceCentre(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kTest)
        return Result::Ok();
    if (c.op == CmdOp::kExec)
        return Result::Error();
    Result sim = SmsSimCheck();
    if (sim.kind != ResultKind::kOk)
        return sim;
    if (c.op == CmdOp::kRead) {
        AddInfo(info,
                "+CSCA: " + Quoted(state_->smsc_number) + "," + std::to_string(state_->smsc_type));
        return Result::Ok();
    }
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.size() > 2 || !args[0].quoted)
        return Result::Error();
    int type = !args[0].text.empty() && args[0].text[0] == '+' ? 145 : 129;
    if (args.size() == 2 && args[1].present) {
        auto t = ArgNumber(args[1]);
        if (!t || *t > 255)
            return Result::Error();
        type = *t;
    }
    state_->smsc_number = args[0].text;
    state_->smsc_type = type;
    host_->StateChanged();
    return Result::Ok();
}

Modem::Result Modem::CmdPreferredStorage(const AtCommand& c, std::string* info) {
    auto& storages = state_->sms_storages;
    if (c.op == CmdOp::kTest) {
        std::string list;
        for (const auto& [name, st] : storages)
            list += (list.empty() ? "" : ",") + Quoted(name);
        AddInfo(info, "+CPMS: (" + list + "),(" + list + "),(" + list + ")");
        return Result::Ok();
    }
    if (c.op == CmdOp::kExec)
        return Result::Error();
    Result sim = SmsSimCheck();
    if (sim.kind != ResultKind::kOk)
        return sim;
    if (c.op == CmdOp::kRead) {
        std::string text = "+CPMS: ";
        for (int i = 0; i < 3; ++i) {
            const SmsStorage& st = storages[mem_[i]];
            text += (i ? "," : "") + Quoted(mem_[i]) + "," + std::to_string(st.Used()) + "," +
                    std::to_string(st.size);
        }
        AddInfo(info, text);
        return Result::Ok();
    }
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.size() > 3)
        return Result::Error();
    std::string chosen[3] = {mem_[0], mem_[1], mem_[2]};
    for (size_t i = 0; i < args.size(); ++i) {
        if (!args[i].present && i > 0)
            continue;
        if (!args[i].quoted)
            return Result::Error();
        if (!storages.count(args[i].text))
            return Result::Cms(kCmsNotAllowed);
        chosen[i] = args[i].text;
    }
    std::string text = "+CPMS: ";
    for (int i = 0; i < 3; ++i) {
        mem_[i] = chosen[i];
        const SmsStorage& st = storages[mem_[i]];
        text += (i ? "," : "") + std::to_string(st.Used()) + "," + std::to_string(st.size);
    }
    AddInfo(info, text);
    return Result::Ok();
}

Modem::Result Modem::CmdNewMessageIndication(const AtCommand& c, std::string* info) {
    static const int kMax[5] = {3, 3, 3, 2, 1};
    switch (c.op) {
        case CmdOp::kRead: {
            std::string text = "+CNMI: ";
            for (int i = 0; i < 5; ++i)
                text += (i ? "," : "") + std::to_string(cnmi_[i]);
            AddInfo(info, text);
            return Result::Ok();
        }
        case CmdOp::kTest:
            AddInfo(info, "+CNMI: (0-3),(0-3),(0-3),(0-2),(0,1)");
            return Result::Ok();
        case CmdOp::kSet: {
            std::vector<AtArg> args;
            if (!ParseArgs(c.args, &args) || args.size() > 5)
                return Result::Error();
            std::array<int, 5> next = cnmi_;
            for (size_t i = 0; i < args.size(); ++i) {
                if (!args[i].present)
                    continue;
                auto v = ArgNumber(args[i]);
                if (!v || *v > kMax[i])
                    return Result::Error();
                next[i] = *v;
            }
            cnmi_ = next;
            return Result::Ok();
        }
        default:
            return Result::Error();
    }
}

std::string Modem::PduAnswer(const SmsSlot& slot) const {
    return std::to_string(slot.status) + ",," + std::to_string(PduLength(slot)) + "\r\n" +
           AnswerHex(slot.pdu);
}

Modem::Result Modem::CmdReadMessage(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kTest)
        return Result::Ok();
    if (c.op != CmdOp::kSet)
        return Result::Error();
    Result sim = SmsSimCheck();
    if (sim.kind != ResultKind::kOk)
        return sim;
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.size() != 1)
        return Result::Error();
    auto index = ArgNumber(args[0]);
    if (!index)
        return Result::Error();
    SmsStorage& st = state_->sms_storages[mem_[0]];
    if (*index < 1 || *index > st.size)
        return Result::Cms(kCmsInvalidIndex);
    SmsSlot* slot = st.Find(*index);
    if (!slot)
        return state_->empty_slot_error ? Result::Cms(kCmsInvalidIndex) : Result::Ok();
    AddInfo(info, "+CMGR: " + PduAnswer(*slot));
    if (slot->status == kStatusUnread) {
        slot->status = kStatusRead;
        host_->StateChanged();
    }
    return Result::Ok();
}

Modem::Result Modem::CmdListMessages(const AtCommand& c, std::string* info) {
    if (c.op == CmdOp::kTest) {
        AddInfo(info, "+CMGL: (0-4)");
        return Result::Ok();
    }
    if (c.op != CmdOp::kSet && c.op != CmdOp::kExec)
        return Result::Error();
    if (state_->list_mode == "error")
        return Result::Error();
    if (state_->list_mode == "cms")
        return Result::Cms(kCmsNotSupported);
    Result sim = SmsSimCheck();
    if (sim.kind != ResultKind::kOk)
        return sim;
    int wanted = kStatusUnread;
    if (c.op == CmdOp::kSet) {
        std::vector<AtArg> args;
        if (!ParseArgs(c.args, &args) || args.size() != 1)
            return Result::Error();
        auto v = ArgNumber(args[0]);
        if (!v || *v > 4)
            return Result::Cms(kCmsInvalidPduParameter);
        wanted = *v;
    }
    SmsStorage& st = state_->sms_storages[mem_[0]];
    std::string text;
    bool changed = false;
    int listed = 0;
    for (auto& slot : st.slots) {
        if (wanted != 4 && slot.status != wanted)
            continue;
        if (state_->list_limit > 0 && listed == state_->list_limit)
            break;
        ++listed;
        if (!text.empty())
            text += "\r\n";
        text += "+CMGL: " + std::to_string(slot.index) + "," + PduAnswer(slot);
        if (slot.status == kStatusUnread) {
            slot.status = kStatusRead;
            changed = true;
        }
    }
    if (!text.empty())
        AddInfo(info, text);
    if (changed)
        host_->StateChanged();
    return Result::Ok();
}

Modem::Result Modem::CmdDeleteMessage(const AtCommand& c, std::string* info) {
    SmsStorage& st = state_->sms_storages[mem_[0]];
    if (c.op == CmdOp::kTest) {
        std::string used;
        for (const auto& slot : st.slots) {
            used += (used.empty() ? "" : ",") + std::to_string(slot.index);
        }
        AddInfo(info, "+CMGD: (" + used + "),(0-4)");
        return Result::Ok();
    }
    if (c.op != CmdOp::kSet)
        return Result::Error();
    Result sim = SmsSimCheck();
    if (sim.kind != ResultKind::kOk)
        return sim;
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.size() > 2)
        return Result::Error();
    int flag = 0;
    if (args.size() == 2 && args[1].present) {
        auto f = ArgNumber(args[1]);
        if (!f || *f > 4)
            return Result::Error();
        flag = *f;
    }
    if (flag > 0) {
        // Delete by status; the index is ignored.
        auto keep = [&](const SmsSlot& s) {
            switch (flag) {
                case 1:
                    return s.status != kStatusRead;
                case 2:
                    return s.status != kStatusRead && s.status != kStatusSent;
                case 3:
                    return s.status == kStatusUnread;
                default:
                    return false;
            }
        };
        size_t before = st.slots.size();
        std::erase_if(st.slots, [&](const SmsSlot& s) { return !keep(s); });
        if (st.slots.size() != before)
            host_->StateChanged();
        return Result::Ok();
    }
    auto index = ArgNumber(args[0]);
    if (!index)
        return Result::Error();
    if (*index < 1 || *index > st.size)
        return Result::Cms(kCmsInvalidIndex);
    if (!st.Erase(*index)) {
        return state_->empty_slot_error ? Result::Cms(kCmsInvalidIndex) : Result::Ok();
    }
    host_->StateChanged();
    return Result::Ok();
}

Modem::Result Modem::CmdSendMessage(const AtCommand& c, std::string*) {
    if (c.op == CmdOp::kTest)
        return Result::Ok();
    if (c.op != CmdOp::kSet)
        return Result::Error();
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.size() != 1)
        return Result::Error();
    auto length = ArgNumber(args[0]);
    if (!length || *length < 1 || *length > 255)
        return Result::Error();
    Result sim = SmsSimCheck();
    if (sim.kind != ResultKind::kOk)
        return sim;
    if (!state_->op.registered)
        return Result::Cms(kCmsNoNetwork);
    mode_ = Mode::kPdu;
    pdu_for_send_ = true;
    pdu_length_ = *length;
    pdu_text_.clear();
    pdu_bad_ = false;
    return {ResultKind::kPrompt, 0};
}

Modem::Result Modem::CmdWriteMessage(const AtCommand& c, std::string*) {
    if (c.op == CmdOp::kTest)
        return Result::Ok();
    if (c.op != CmdOp::kSet)
        return Result::Error();
    std::vector<AtArg> args;
    if (!ParseArgs(c.args, &args) || args.size() > 2)
        return Result::Error();
    auto length = ArgNumber(args[0]);
    if (!length || *length < 1 || *length > 255)
        return Result::Error();
    int status = kStatusUnsent;
    if (args.size() == 2 && args[1].present) {
        auto s = ArgNumber(args[1]);
        if (!s || *s > 3)
            return Result::Cms(kCmsInvalidPduParameter);
        status = *s;
    }
    Result sim = SmsSimCheck();
    if (sim.kind != ResultKind::kOk)
        return sim;
    mode_ = Mode::kPdu;
    pdu_for_send_ = false;
    pdu_length_ = *length;
    pdu_status_ = status;
    pdu_text_.clear();
    pdu_bad_ = false;
    return {ResultKind::kPrompt, 0};
}

void Modem::FinishPdu(bool cancelled) {
    mode_ = Mode::kCommand;
    int delay = state_->timing.delay_ms;
    if (cancelled) {
        host_->Answer(FinalText(Result::Ok()), delay);
        return;
    }
    std::string pdu;
    std::string info;
    Result r = Result::Ok();
    if (pdu_bad_ || !HexToBytes(pdu_text_, &pdu) || TpduLength(pdu) != pdu_length_) {
        r = Result::Cms(kCmsInvalidPduParameter);
    } else if (pdu_for_send_) {
        r = SendPdu(pdu, &info);
        delay += state_->timing.send_ms;
    } else {
        r = WritePdu(pdu, &info);
    }
    host_->Answer(info + FinalText(r), delay);
    if (pdu_for_send_ && r.kind == ResultKind::kOk)
        Loopback(pdu);
}

Modem::Result Modem::SendPdu(const std::string& pdu, std::string* info) {
    SubmitPdu submit;
    if (!ParseSubmit(pdu, &submit))
        return Result::Cms(kCmsInvalidPduParameter);
    if (static_cast<unsigned char>(pdu[0]) == 0 && state_->smsc_number.empty()) {
        return Result::Cms(kCmsSmscUnknown);
    }
    int reference = state_->next_reference & 0xFF;
    state_->next_reference = (reference + 1) & 0xFF;
    SentMessage sent;
    sent.reference = reference;
    sent.pdu = BytesToHex(pdu);
    sent.time = TimeText(host_->Now());
    sent.to = submit.destination;
    std::u16string text;
    DecodeSubmitText(submit, &text, &sent.concat_ref, &sent.concat_total, &sent.concat_seq);
    sent.text = Utf16ToUtf8(text);
    if (sent.concat_total < 2 || sent.concat_seq < 1 || sent.concat_seq > sent.concat_total)
        sent.concat_ref = -1;  // no usable concatenation element: a message of its own
    state_->sent.push_back(sent);
    Deliver(state_);
    host_->StateChanged();
    AddInfo(info, "+CMGS: " + std::to_string(reference));
    return Result::Ok();
}

Modem::Result Modem::WritePdu(const std::string& pdu, std::string* info) {
    SmsStorage& st = state_->sms_storages[mem_[1]];
    int index = st.FirstFree();
    if (index == 0)
        return Result::Cms(kCmsMemoryFull);
    SmsSlot slot;
    slot.index = index;
    slot.status = pdu_status_;
    slot.pdu = BytesToHex(pdu);
    st.Put(slot);
    host_->StateChanged();
    AddInfo(info, "+CMGW: " + std::to_string(index));
    return Result::Ok();
}

void Modem::Loopback(const std::string& submit_pdu) {
    SubmitPdu submit;
    if (!ParseSubmit(submit_pdu, &submit))
        return;
    std::string own = NumberKey(state_->own_number);
    if (own.empty() || NumberKey(submit.destination) != own ||
        submit.destination.find_first_not_of("+0123456789") != std::string::npos) {
        return;
    }
    std::string deliver =
        SubmitToDeliver(submit, state_->smsc_number, state_->own_number, host_->Now());
    StoreIncoming(state_->loopback_storage, BytesToHex(deliver), false);
}

std::string Modem::IndicationFor(const std::string& storage, int index) const {
    return UnsolicitedText("+CMTI: " + Quoted(storage) + "," + std::to_string(index));
}

int Modem::StoreIncoming(const std::string& storage, const std::string& pdu_hex, bool force_cmti) {
    bool indicate = cnmi_[0] != 0;
    if (!force_cmti && indicate && cnmi_[1] >= 2) {
        DeliverCmt(pdu_hex);
        return -1;
    }
    std::string name = storage.empty() ? mem_[2] : storage;
    auto it = state_->sms_storages.find(name);
    if (it == state_->sms_storages.end())
        return 0;
    int index = it->second.FirstFree();
    if (index == 0)
        return 0;
    SmsSlot slot;
    slot.index = index;
    slot.status = kStatusUnread;
    slot.pdu = pdu_hex;
    it->second.Put(slot);
    host_->StateChanged();
    if (force_cmti || (indicate && cnmi_[1] == 1))
        Emit(IndicationFor(name, index));
    return index;
}

void Modem::DeliverCmt(const std::string& pdu_hex) {
    SmsSlot slot;
    slot.pdu = pdu_hex;
    Emit(
        UnsolicitedText("+CMT: ," + std::to_string(PduLength(slot)) + "\r\n" + AnswerHex(pdu_hex)));
}

void Modem::FireUnsolicited(const UnsolicitedFault& f) {
    if (f.kind == "line") {
        Emit(UnsolicitedText(f.line));
        return;
    }
    std::string pdu = f.pdu;
    if (pdu.empty()) {
        pdu = BytesToHex(
            MakeTextDeliver(state_->smsc_number, f.from, Utf8ToUtf16(f.text), host_->Now()));
    }
    if (f.kind == "cmt") {
        DeliverCmt(pdu);
    } else {
        StoreIncoming(f.storage, pdu, true);
    }
}

}  // namespace phonesim
