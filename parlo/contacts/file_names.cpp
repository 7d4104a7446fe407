#include "parlo/contacts/file_names.h"

#include "platform/text.h"

namespace parlo {

bool IsValidGroupName(std::u16string_view name) {
    if (name.empty())
        return false;
    for (char16_t c : name) {
        if (c == u'/' || c == 0)
            return false;
    }
    // NAME_MAX of the usual file systems is 255 bytes.
    return platform::ToUtf8(name).size() + 4 <= 255;
}

std::string IdentityFileName(std::u16string_view identity) {
    std::string bytes = platform::ToUtf8(identity);
    std::string out;
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(bytes[i]);
        bool plain = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                     c == '+' || c == '-' || c == '_' || c == ' ' || (c == '.' && i != 0);
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    // The empty identity still names one file of its own.
    if (out.empty())
        return std::string(1, '%');
    return out;
}

}  // namespace parlo
