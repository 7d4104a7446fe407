// The readers of outside input of the contacts library on arbitrary bytes.
// The first byte chooses the reader: vCard text, phonebook file, group file,
// or the phone's phonebook replies. Whatever a reader accepts must write
// back and read again to the same values.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "parlo/contacts/groups.h"
#include "parlo/contacts/phonebook.h"
#include "parlo/contacts/phonebook_sync.h"
#include "parlo/contacts/vcard.h"
#include "platform/binio.h"
#include "platform/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 4) {
        case 0: {
            std::vector<parlo::vcard::Card> cards;
            if (!parlo::vcard::Parse(bytes, &cards))
                break;
            for (const auto& card : cards) {
                std::vector<parlo::vcard::Card> again;
                if (!parlo::vcard::Parse(parlo::vcard::Write30(card), &again) || again.size() != 1)
                    __builtin_trap();
            }
            break;
        }
        case 1: {
            parlo::CPhonebook book;
            if (!book.Parse(bytes))
                break;
            const std::string written = book.Serialize();
            parlo::CPhonebook again;
            if (!again.Parse(written) || again.Serialize() != written)
                __builtin_trap();
            break;
        }
        case 2: {
            parlo::GroupMemberList members;
            if (!parlo::ParseGroup(&members, bytes))
                break;
            platform::BinaryWriter out;
            out.WriteInt32(static_cast<int32_t>(members.size()));
            for (const auto& m : members)
                m->Write(out);
            parlo::GroupMemberList again;
            if (!parlo::ParseGroup(&again, out.data()) || again.size() != members.size())
                __builtin_trap();
            break;
        }
        default: {
            std::u16string reply = platform::WidenBytes(bytes);
            parlo::StorageDescriptor d;
            if (parlo::ParsePhonebookRange(reply, &d) && (d.first < 0 || d.last < d.first))
                __builtin_trap();
            parlo::PhoneEntryLine line;
            if (parlo::ParsePhonebookLine(reply, &line) && line.index < 0)
                __builtin_trap();
            break;
        }
    }
    return 0;
}
