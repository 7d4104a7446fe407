#include "tools/phonesim/sms_pdu.h"

#include <algorithm>

#include "tools/phonesim/gsm_alphabet.h"

namespace phonesim {
namespace {

uint8_t Byte(std::string_view s, size_t i) {
    return static_cast<uint8_t>(s[i]);
}

bool IsBcdNumber(std::string_view number) {
    if (number.empty())
        return false;
    size_t start = number[0] == '+' ? 1 : 0;
    if (start == number.size() || number.size() - start > 20)
        return false;
    for (size_t i = start; i < number.size(); ++i) {
        char c = number[i];
        if (!((c >= '0' && c <= '9') || c == '*' || c == '#'))
            return false;
    }
    return true;
}

char BcdDigit(char c) {
    if (c == '*')
        return 0xA;
    if (c == '#')
        return 0xB;
    return static_cast<char>(c - '0');
}

char DigitChar(int v) {
    static const char* kDigits = "0123456789*#abc";
    return v <= 14 ? kDigits[v] : '?';
}

std::string Bcd(std::string_view digits) {
    std::string out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        int lo = BcdDigit(digits[i]);
        int hi = i + 1 < digits.size() ? BcdDigit(digits[i + 1]) : 0xF;
        out.push_back(static_cast<char>((hi << 4) | lo));
    }
    return out;
}

int SwappedBcd(int value) {
    return ((value % 10) << 4) | (value / 10 % 10);
}

}  // namespace

int TpduLength(std::string_view pdu) {
    if (pdu.empty())
        return -1;
    size_t smsc = Byte(pdu, 0);
    if (pdu.size() < 1 + smsc)
        return -1;
    return static_cast<int>(pdu.size() - 1 - smsc);
}

bool DcsIsSevenBit(uint8_t dcs) {
    uint8_t group = dcs >> 4;
    if (group <= 0x7) {  // general data coding (with or without auto deletion)
        if (dcs & 0x20)
            return false;  // compressed
        return ((dcs >> 2) & 3) == 0 || ((dcs >> 2) & 3) == 3;
    }
    if (group == 0xC || group == 0xD)
        return true;  // message waiting, GSM alphabet
    if (group == 0xE)
        return false;  // message waiting, UCS2
    if (group == 0xF)
        return (dcs & 0x04) == 0;
    return false;  // reserved groups: taken as octets
}

bool ParseSubmit(std::string_view pdu, SubmitPdu* out) {
    int tpdu = TpduLength(pdu);
    if (tpdu < 0)
        return false;
    size_t p = pdu.size() - static_cast<size_t>(tpdu);
    auto need = [&](size_t n) { return pdu.size() - p >= n; };
    if (!need(2))
        return false;
    SubmitPdu s;
    s.first_octet = Byte(pdu, p++);
    if ((s.first_octet & 0x03) != 0x01)
        return false;  // not SMS-SUBMIT
    s.reference = Byte(pdu, p++);
    if (!need(2))
        return false;
    size_t digits = Byte(pdu, p++);
    s.destination_type = Byte(pdu, p++);
    if (digits > 20)
        return false;
    size_t octets = (digits + 1) / 2;
    if (!need(octets))
        return false;
    if ((s.destination_type & 0x70) == 0x50) {  // alphanumeric
        std::string septets = UnpackSeptets(pdu.substr(p, octets), digits * 4 / 7);
        for (char16_t ch : FromGsmSeptets(septets)) {
            s.destination.push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
        }
    } else {
        if ((s.destination_type & 0x70) == 0x10)
            s.destination.push_back('+');
        for (size_t i = 0; i < digits; ++i) {
            uint8_t b = Byte(pdu, p + i / 2);
            s.destination.push_back(DigitChar(i % 2 == 0 ? (b & 0xF) : (b >> 4)));
        }
    }
    p += octets;
    if (!need(2))
        return false;
    s.pid = Byte(pdu, p++);
    s.dcs = Byte(pdu, p++);
    switch ((s.first_octet >> 3) & 3) {
        case 0:
            break;  // no validity period
        case 2:
            p += 1;
            break;  // relative
        default:
            p += 7;
            break;  // enhanced or absolute
    }
    if (p > pdu.size() || !need(1))
        return false;
    s.udl = Byte(pdu, p++);
    size_t ud_octets = DcsIsSevenBit(s.dcs) ? (s.udl * 7 + 7) / 8 : s.udl;
    if (DcsIsSevenBit(s.dcs) ? s.udl > 160 : s.udl > 140)
        return false;
    if (pdu.size() - p != ud_octets)
        return false;
    s.user_data = std::string(pdu.substr(p));
    *out = std::move(s);
    return true;
}

bool DecodeSubmitText(const SubmitPdu& submit, std::u16string* text, int* ref, int* total,
                      int* seq) {
    text->clear();
    *ref = -1;
    *total = 0;
    *seq = 0;
    const std::string& ud = submit.user_data;
    const bool seven = DcsIsSevenBit(submit.dcs);
    size_t header = 0;  // octets, with the header length octet
    if ((submit.first_octet & 0x40) && !ud.empty()) {
        header = static_cast<size_t>(Byte(ud, 0)) + 1;
        if (header > ud.size())
            return false;
        // Information elements: identifier, length, data.
        for (size_t i = 1; i + 2 <= header;) {
            uint8_t iei = Byte(ud, i);
            size_t len = Byte(ud, i + 1);
            if (i + 2 + len > header)
                return false;
            if (iei == 0x00 && len == 3) {
                *ref = Byte(ud, i + 2);
                *total = Byte(ud, i + 3);
                *seq = Byte(ud, i + 4);
            } else if (iei == 0x08 && len == 4) {
                *ref = (Byte(ud, i + 2) << 8) | Byte(ud, i + 3);
                *total = Byte(ud, i + 4);
                *seq = Byte(ud, i + 5);
            }
            i += 2 + len;
        }
    }
    if (seven) {
        size_t skip = (header * 8 + 6) / 7;  // the header and its fill bits
        std::string septets = UnpackSeptets(ud, submit.udl);
        if (skip > septets.size())
            return false;
        *text = FromGsmSeptets(std::string_view(septets).substr(skip));
        return true;
    }
    uint8_t group = submit.dcs >> 4;
    bool ucs2 = (group <= 0x7 && ((submit.dcs >> 2) & 3) == 2) || group == 0xE;
    if (ucs2) {
        for (size_t i = header; i + 1 < ud.size(); i += 2)
            text->push_back(static_cast<char16_t>((Byte(ud, i) << 8) | Byte(ud, i + 1)));
    } else {
        for (size_t i = header; i < ud.size(); ++i)
            text->push_back(Byte(ud, i));
    }
    return true;
}

std::string EncodeAddress(std::string_view number, bool smsc) {
    std::string out;
    if (number.empty()) {
        out.push_back(0);
        if (!smsc)
            out.push_back(static_cast<char>(0x81));
        return out;
    }
    if (IsBcdNumber(number)) {
        bool international = number[0] == '+';
        std::string_view digits = international ? number.substr(1) : number;
        std::string bcd = Bcd(digits);
        out.push_back(static_cast<char>(smsc ? bcd.size() + 1 : digits.size()));
        out.push_back(static_cast<char>(international ? 0x91 : 0x81));
        return out + bcd;
    }
    std::u16string wide(number.begin(), number.end());
    std::string septets;
    ToGsmSeptets(wide, &septets);
    if (septets.size() > 11)
        septets.resize(11);
    std::string packed = PackSeptets(septets);
    size_t semi = (septets.size() * 7 + 3) / 4;
    out.push_back(static_cast<char>(smsc ? packed.size() + 1 : semi));
    out.push_back(static_cast<char>(0xD0));
    return out + packed;
}

std::string EncodeTimestamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    std::string out;
    out.push_back(static_cast<char>(SwappedBcd(local.tm_year % 100)));
    out.push_back(static_cast<char>(SwappedBcd(local.tm_mon + 1)));
    out.push_back(static_cast<char>(SwappedBcd(local.tm_mday)));
    out.push_back(static_cast<char>(SwappedBcd(local.tm_hour)));
    out.push_back(static_cast<char>(SwappedBcd(local.tm_min)));
    out.push_back(static_cast<char>(SwappedBcd(local.tm_sec)));
    long offset = local.tm_gmtoff / (15 * 60);
    int tz = SwappedBcd(static_cast<int>(offset < 0 ? -offset : offset));
    if (offset < 0)
        tz |= 0x08;
    out.push_back(static_cast<char>(tz));
    return out;
}

std::string MakeDeliver(const DeliverParams& p) {
    std::string out = EncodeAddress(p.smsc, true);
    out.push_back(static_cast<char>(0x04 | (p.udhi ? 0x40 : 0)));  // no more messages
    out += EncodeAddress(p.originator, false);
    out.push_back(static_cast<char>(p.pid));
    out.push_back(static_cast<char>(p.dcs));
    out += EncodeTimestamp(p.time);
    out.push_back(static_cast<char>(p.udl));
    out += p.user_data;
    return out;
}

std::string MakeTextDeliver(std::string_view smsc, std::string_view originator,
                            std::u16string_view text, std::time_t when) {
    DeliverParams p;
    p.smsc = std::string(smsc);
    p.originator = std::string(originator);
    p.time = when;
    std::string septets;
    if (ToGsmSeptets(text, &septets)) {
        if (septets.size() > 160) {
            septets.resize(160);
            if (septets.back() == 0x1B)
                septets.pop_back();
        }
        p.dcs = 0x00;
        p.udl = static_cast<uint8_t>(septets.size());
        p.user_data = PackSeptets(septets);
    } else {
        p.dcs = 0x08;
        std::u16string_view cut = text.substr(0, 70);
        for (char16_t ch : cut) {
            p.user_data.push_back(static_cast<char>(ch >> 8));
            p.user_data.push_back(static_cast<char>(ch & 0xFF));
        }
        p.udl = static_cast<uint8_t>(p.user_data.size());
    }
    return MakeDeliver(p);
}

std::vector<std::string> MakeConcatDelivers(std::string_view smsc, std::string_view originator,
                                            std::u16string_view text, int ref, std::time_t when) {
    std::string septets;
    const bool gsm = ToGsmSeptets(text, &septets);
    std::vector<std::pair<size_t, size_t>> pieces;  // start, length (septets or code units)
    const size_t total = gsm ? septets.size() : text.size();
    const size_t size = gsm ? 153 : 67;
    for (size_t at = 0; at < total || pieces.empty();) {
        size_t n = std::min(size, total - at);
        if (gsm && n > 0 && at + n < total && septets[at + n - 1] == 0x1B)
            --n;  // the escape goes with its character
        pieces.emplace_back(at, n);
        at += n;
        if (n == 0)
            break;
    }
    if (pieces.size() > 255)
        pieces.resize(255);
    std::vector<std::string> out;
    for (size_t k = 0; k < pieces.size(); ++k) {
        const std::string udh = {0x05,
                                 0x00,
                                 0x03,
                                 static_cast<char>(ref & 0xFF),
                                 static_cast<char>(pieces.size()),
                                 static_cast<char>(k + 1)};
        DeliverParams p;
        p.smsc = std::string(smsc);
        p.originator = std::string(originator);
        p.time = when;
        p.udhi = true;
        if (gsm) {
            // Seven septets hold the header and one fill bit; the text
            // starts on the eighth.
            std::string codes(7, '\0');
            codes += septets.substr(pieces[k].first, pieces[k].second);
            p.dcs = 0x00;
            p.udl = static_cast<uint8_t>(codes.size());
            p.user_data = PackSeptets(codes);
            p.user_data.replace(0, udh.size(), udh);
        } else {
            p.dcs = 0x08;
            p.user_data = udh;
            for (char16_t ch : text.substr(pieces[k].first, pieces[k].second)) {
                p.user_data.push_back(static_cast<char>(ch >> 8));
                p.user_data.push_back(static_cast<char>(ch & 0xFF));
            }
            p.udl = static_cast<uint8_t>(p.user_data.size());
        }
        out.push_back(MakeDeliver(p));
    }
    return out;
}

std::string SubmitToDeliver(const SubmitPdu& submit, std::string_view smsc,
                            std::string_view originator, std::time_t when) {
    DeliverParams p;
    p.smsc = std::string(smsc);
    p.originator = std::string(originator);
    p.pid = submit.pid;
    p.dcs = submit.dcs;
    p.udhi = (submit.first_octet & 0x40) != 0;
    p.udl = submit.udl;
    p.user_data = submit.user_data;
    p.time = when;
    return MakeDeliver(p);
}

}  // namespace phonesim
