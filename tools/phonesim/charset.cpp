#include "tools/phonesim/charset.h"

#include "platform/text.h"
#include "tools/phonesim/gsm_alphabet.h"
#include "tools/phonesim/hex.h"

namespace phonesim {

std::u16string Utf8ToUtf16(std::string_view text) {
    return platform::FromUtf8(text);
}

std::string Utf16ToUtf8(std::u16string_view text) {
    return platform::ToUtf8(text);
}

const std::vector<std::string>& SupportedCharsets() {
    static const std::vector<std::string> kSets = {"GSM", "IRA", "8859-1", "UCS2", "UTF-8"};
    return kSets;
}

bool IsSupportedCharset(const std::string& name) {
    for (const auto& s : SupportedCharsets()) {
        if (s == name)
            return true;
    }
    return false;
}

std::string EncodeText(const std::string& charset, std::u16string_view text) {
    std::string out;
    if (charset == "GSM") {
        ToGsmSeptets(text, &out);
    } else if (charset == "UCS2") {
        std::string bytes;
        for (char16_t ch : text) {
            bytes.push_back(static_cast<char>(ch >> 8));
            bytes.push_back(static_cast<char>(ch & 0xFF));
        }
        out = BytesToHex(bytes);
    } else if (charset == "UTF-8") {
        out = Utf16ToUtf8(text);
    } else {
        char16_t limit = charset == "8859-1" ? 0xFF : 0x7F;
        for (char16_t ch : text)
            out.push_back(ch <= limit ? static_cast<char>(ch) : '?');
    }
    return out;
}

bool DecodeText(const std::string& charset, std::string_view bytes, std::u16string* text) {
    text->clear();
    if (charset == "GSM") {
        for (char c : bytes) {
            if (static_cast<unsigned char>(c) > 0x7F)
                return false;
        }
        *text = FromGsmSeptets(bytes);
        return true;
    }
    if (charset == "UCS2") {
        std::string raw;
        if (bytes.size() % 4 != 0 || !HexToBytes(bytes, &raw))
            return false;
        for (size_t i = 0; i + 1 < raw.size(); i += 2) {
            text->push_back(static_cast<char16_t>((static_cast<unsigned char>(raw[i]) << 8) |
                                                  static_cast<unsigned char>(raw[i + 1])));
        }
        return true;
    }
    if (charset == "UTF-8") {
        *text = Utf8ToUtf16(bytes);
        return text->find(u'\uFFFD') == std::u16string::npos;
    }
    unsigned char limit = charset == "8859-1" ? 0xFF : 0x7F;
    for (char c : bytes) {
        unsigned char b = static_cast<unsigned char>(c);
        if (b > limit)
            return false;
        text->push_back(b);
    }
    return true;
}

int StoredTextLength(std::u16string_view text) {
    std::string septets;
    if (ToGsmSeptets(text, &septets))
        return static_cast<int>(septets.size());
    return 1 + 2 * static_cast<int>(text.size());
}

}  // namespace phonesim
