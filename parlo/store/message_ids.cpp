#include "parlo/store/message_ids.h"

#include <charconv>
#include <cstring>

namespace parlo {

namespace {

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ULL;
constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

void Mix(uint64_t* h, const void* data, size_t n) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) {
        *h ^= p[i];
        *h *= kFnvPrime;
    }
}

void MixUnits(uint64_t* h, const std::u16string& s) {
    for (char16_t c : s) {
        const unsigned char b[2] = {static_cast<unsigned char>(c & 0xFF),
                                    static_cast<unsigned char>(c >> 8)};
        Mix(h, b, 2);
    }
    // The length closes each string, so "ab"+"c" and "a"+"bc" differ.
    const uint32_t n = static_cast<uint32_t>(s.size());
    const unsigned char len[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                                  static_cast<unsigned char>(n >> 16),
                                  static_cast<unsigned char>(n >> 24)};
    Mix(h, len, 4);
}

uint32_t Short(uint64_t identity) {
    return static_cast<uint32_t>(identity >> 32);
}

std::string Hex(uint64_t v, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out(static_cast<size_t>(digits), '0');
    for (int i = digits - 1; i >= 0; --i, v >>= 4)
        out[static_cast<size_t>(i)] = kDigits[v & 0xF];
    return out;
}

}  // namespace

uint64_t MessageIdentity(const CSmsMessage& rec) {
    uint64_t h = kFnvOffset;
    MixUnits(&h, rec.m_strNumber);
    MixUnits(&h, rec.m_strText);
    uint64_t bits = 0;
    static_assert(sizeof bits == sizeof rec.m_time.m_dt);
    std::memcpy(&bits, &rec.m_time.m_dt, sizeof bits);
    unsigned char time[12];
    for (int i = 0; i < 8; ++i)
        time[i] = static_cast<unsigned char>(bits >> (8 * i));
    const uint32_t status = static_cast<uint32_t>(rec.m_time.m_status);
    for (int i = 0; i < 4; ++i)
        time[8 + i] = static_cast<unsigned char>(status >> (8 * i));
    Mix(&h, time, sizeof time);
    return h;
}

CMessageIds::CMessageIds(const std::vector<CSmsMessage*>& list) : list_(list) {
    identity_.reserve(list_.size());
    index_.reserve(list_.size());
    for (size_t i = 0; i < list_.size(); ++i) {
        const uint64_t id = MessageIdentity(*list_[i]);
        identity_.push_back(id);
        index_.emplace(list_[i], i);
        ++short_count_[Short(id)];
        ++full_count_[id];
    }
}

std::string CMessageIds::IdOf(const CSmsMessage* rec) const {
    auto it = index_.find(rec);
    if (it == index_.end())
        return "?";
    const uint64_t id = identity_[it->second];
    const uint32_t copies = full_count_.at(id);
    // Records of another identity share the short form: the full one.
    std::string out = short_count_.at(Short(id)) > copies ? Hex(id, 16) : Hex(Short(id), 8);
    if (copies > 1) {
        uint32_t n = 0;
        for (size_t i = 0; i <= it->second; ++i)
            n += identity_[i] == id;
        out += "-" + std::to_string(n);
    }
    return out;
}

CMessageIds::Found CMessageIds::Resolve(std::string_view id, CSmsMessage** out) const {
    std::string_view hex = id;
    uint32_t copy = 0;  // 0: no "-N"
    if (size_t dash = id.find('-'); dash != std::string_view::npos) {
        hex = id.substr(0, dash);
        std::string_view n = id.substr(dash + 1);
        auto [end, ec] = std::from_chars(n.data(), n.data() + n.size(), copy);
        if (ec != std::errc() || end != n.data() + n.size() || copy == 0)
            return Found::kMalformed;
    }
    if (hex.size() != 8 && hex.size() != 16)
        return Found::kMalformed;
    uint64_t value = 0;
    auto [end, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), value, 16);
    if (ec != std::errc() || end != hex.data() + hex.size())
        return Found::kMalformed;
    const bool full = hex.size() == 16;
    std::vector<size_t> matches;
    for (size_t i = 0; i < identity_.size(); ++i) {
        if (full ? identity_[i] == value : Short(identity_[i]) == value)
            matches.push_back(i);
    }
    if (matches.empty())
        return Found::kNone;
    for (size_t i : matches) {
        if (identity_[i] != identity_[matches[0]])
            return Found::kAmbiguous;  // messages of different identities
    }
    if (copy == 0) {
        if (matches.size() > 1)
            return Found::kAmbiguous;
        *out = list_[matches[0]];
        return Found::kOne;
    }
    if (copy > matches.size())
        return Found::kNone;
    *out = list_[matches[copy - 1]];
    return Found::kOne;
}

}  // namespace parlo
