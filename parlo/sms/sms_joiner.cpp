#include "parlo/sms/sms_joiner.h"

#include <cmath>
#include <string>

#include "parlo/sms/pdu_codec.h"
#include "parlo/store/sms_message.h"

namespace parlo {

namespace {

constexpr double kSecondsPerDay = 86400.0;

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f';
}

std::u16string Widen(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

}  // namespace

bool PartFromPdu(const CPduMessage& pdu, CReadPart* out) {
    CPduConcat concat;
    if (pdu.m_nType != PDU_TYPE_DELIVER && pdu.m_nType != PDU_TYPE_SUBMIT)
        return false;
    if (!CPduCodec::FindConcat(pdu.m_strUdh, &concat) || concat.m_nTotal < 2)
        return false;
    out->m_strNumber = pdu.m_strNumber;
    out->m_bSent = pdu.m_nType == PDU_TYPE_SUBMIT;
    out->m_nRef = concat.m_nRef;
    out->m_bRef16 = concat.m_b16Bit;
    out->m_nTotal = concat.m_nTotal;
    out->m_part.m_nSeq = concat.m_nSeq;
    out->m_part.m_strText = pdu.m_strText;
    return true;
}

std::u16string CPartJoiner::Key(const std::u16string& number, bool sent, int32_t ref, bool ref16,
                                int32_t total) {
    std::u16string key = number;
    key.push_back(u'\0');
    key += Widen(std::to_string(ref) + (ref16 ? "w" : "b") + std::to_string(total) +
                 (sent ? "s" : "r"));
    return key;
}

CPartJoiner::CPartJoiner(CPartsFile* file)
    : file_(file), preexisting_(file->m_groups.size()), touched_(preexisting_, false) {
    index_.reserve(file_->m_groups.size());
    for (size_t g = 0; g < file_->m_groups.size(); ++g)
        IndexGroup(g);
}

void CPartJoiner::IndexGroup(size_t g) {
    const CPartGroup& group = file_->m_groups[g];
    if (index_.size() <= g)
        index_.resize(g + 1);
    Index& ix = index_[g];
    ix.first.assign(static_cast<size_t>(std::max(group.m_nTotal, 0)) + 1, -1);
    ix.earliest = group.m_anchor;
    for (size_t i = 0; i < group.m_parts.size(); ++i) {
        const CStoredPart& p = group.m_parts[i];
        if (p.m_nSeq >= 1 && p.m_nSeq <= group.m_nTotal && ix.first[p.m_nSeq] < 0)
            ix.first[p.m_nSeq] = static_cast<int32_t>(i);
        ix.earliest = std::min(ix.earliest, p.m_time);
    }
    by_key_[Key(group.m_strNumber, group.m_bSent, group.m_nRef, group.m_bRef16, group.m_nTotal)]
        .push_back(g);
}

void CPartJoiner::Touch(size_t g) {
    if (g < preexisting_ && !touched_[g]) {
        touched_[g] = true;
        if (before_)
            before_(file_->m_groups[g]);
    }
}

CJoinResult CPartJoiner::Add(const CReadPart& in) {
    const CStoredPart& part = in.m_part;
    std::vector<size_t>& candidates =
        by_key_[Key(in.m_strNumber, in.m_bSent, in.m_nRef, in.m_bRef16, in.m_nTotal)];
    CPartGroup* target = nullptr;
    size_t target_index = 0;
    // The newest message first: a reused reference belongs to the latest.
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
        CPartGroup& g = file_->m_groups[*it];
        Index& ix = index_[*it];
        if (std::fabs(part.m_time - ix.earliest) * kSecondsPerDay > kJoinWindowSeconds)
            continue;
        int32_t first = ix.first[part.m_nSeq];
        if (first >= 0) {
            if (g.m_parts[first].m_strText != part.m_strText)
                continue;  // another message with the same reference
            for (const CStoredPart& held : g.m_parts) {
                if (held.m_nSeq == part.m_nSeq && held.m_nStorage == part.m_nStorage &&
                    held.m_nSlot == part.m_nSlot && part.m_nSlot >= 0)
                    return {g.m_nId, PartFate::kKnown, false};
            }
            Touch(*it);
            file_->m_groups[*it].m_parts.push_back(part);
            return {file_->m_groups[*it].m_nId, PartFate::kCopy, false};
        }
        if (!target) {
            target = &g;
            target_index = *it;
        }
    }
    if (target) {
        Touch(target_index);
        Index& ix = index_[target_index];
        ix.first[part.m_nSeq] = static_cast<int32_t>(target->m_parts.size());
        ix.earliest = std::min(ix.earliest, part.m_time);
        target->m_parts.push_back(part);
        return {target->m_nId, PartFate::kAdded, false};
    }
    CPartGroup g;
    g.m_nId = file_->m_nNextId++;
    g.m_strNumber = in.m_strNumber;
    g.m_nRef = in.m_nRef;
    g.m_bRef16 = in.m_bRef16;
    g.m_bSent = in.m_bSent;
    g.m_nTotal = in.m_nTotal;
    g.m_anchor = part.m_time;
    g.m_parts.push_back(part);
    file_->m_groups.push_back(std::move(g));
    IndexGroup(file_->m_groups.size() - 1);
    return {file_->m_groups.back().m_nId, PartFate::kAdded, true};
}

CPartsLookup::CPartsLookup(const CPartsFile& file) : file_(file) {
    for (size_t i = 0; i < file.m_groups.size(); ++i)
        by_anchor_.emplace(std::make_pair(file.m_groups[i].m_strNumber, file.m_groups[i].m_anchor),
                           i);
}

const CPartGroup* CPartsLookup::Find(const CSmsMessage& rec) const {
    auto range = by_anchor_.equal_range({rec.m_strNumber, rec.m_time.m_dt});
    for (auto it = range.first; it != range.second; ++it) {
        if (IsGroupText(file_.m_groups[it->second], rec.m_strText))
            return &file_.m_groups[it->second];
    }
    return nullptr;
}

std::u16string GapText(int32_t seq, int32_t total) {
    return Widen("[part " + std::to_string(seq) + " of " + std::to_string(total) +
                 " not received yet]");
}

std::u16string JoinedText(const CPartGroup& group) {
    std::vector<const CStoredPart*> by_seq(static_cast<size_t>(std::max(group.m_nTotal, 0)) + 1,
                                           nullptr);
    for (const CStoredPart& p : group.m_parts) {
        if (p.m_nSeq >= 1 && p.m_nSeq <= group.m_nTotal && !by_seq[p.m_nSeq])
            by_seq[p.m_nSeq] = &p;
    }
    std::u16string raw;
    for (int32_t k = 1; k <= group.m_nTotal; ++k)
        raw += by_seq[k] ? by_seq[k]->m_strText : GapText(k, group.m_nTotal);
    std::u16string text;
    text.reserve(raw.size() + 8);
    for (char16_t c : raw) {
        if (c == u'\n')
            text.push_back(u'\r');
        text.push_back(c);
    }
    size_t b = 0, e = text.size();
    while (b < e && IsSpace(text[b]))
        ++b;
    while (e > b && IsSpace(text[e - 1]))
        --e;
    return text.substr(b, e - b);
}

bool IsGroupText(const CPartGroup& group, const std::u16string& text) {
    if (text == JoinedText(group))
        return true;
    for (const std::u16string& t : group.m_priorTexts) {
        if (t == text)
            return true;
    }
    return false;
}

int32_t GroupState(const CPartGroup& group) {
    if (group.m_bSent)
        return STATE_PHONE_SENT;
    for (const CStoredPart& p : group.m_parts) {
        if (p.m_nState == STATE_UNREAD)
            return STATE_UNREAD;
    }
    return STATE_READ;
}

}  // namespace parlo
