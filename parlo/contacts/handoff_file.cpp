#include "parlo/contacts/handoff_file.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "platform/binio.h"

namespace parlo {

std::filesystem::path HandoffPath(const std::filesystem::path& dir) {
    return dir / kHandoffFileName;
}

bool WriteHandoffFile(const std::filesystem::path& dir, std::u16string_view number) {
    if (number.empty() || number.size() > static_cast<size_t>(kHandoffMaxUnits))
        return false;
    platform::BinaryWriter out;
    out.WriteRecordString(number);
    return platform::WriteFileAtomic(HandoffPath(dir), out.data());
}

bool ParseHandoff(std::string_view data, std::u16string* number) {
    platform::BinaryReader in(data);
    std::u16string text;
    // A longer stored length is no number of a real contact: rather no
    // message than one to a number cut short.
    if (!in.ReadRecordString(&text, kHandoffMaxUnits))
        return false;
    text = text.substr(0, text.find(u'\0'));
    if (text.empty())
        return false;
    *number = std::move(text);
    return true;
}

HandoffRead ReadHandoffFile(const std::filesystem::path& dir, std::u16string* number) {
    std::ifstream file(HandoffPath(dir), std::ios::binary);
    if (!file)
        return HandoffRead::kNone;
    // At most what a record string of the longest number takes, and a little.
    std::string data;
    data.resize(4 + 2 * (kHandoffMaxUnits + 1) + 1);
    file.read(data.data(), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<size_t>(file.gcount()));
    return ParseHandoff(data, number) ? HandoffRead::kNumber : HandoffRead::kRefused;
}

bool RemoveHandoffFileIf(const std::filesystem::path& dir, std::u16string_view number) {
    std::u16string now;
    if (ReadHandoffFile(dir, &now) == HandoffRead::kNumber && now != number)
        return false;  // another number came meanwhile: it waits for its own turn
    std::error_code ec;
    return std::filesystem::remove(HandoffPath(dir), ec);
}

HandoffRead TakeHandoffFile(const std::filesystem::path& dir, std::u16string* number) {
    const HandoffRead read = ReadHandoffFile(dir, number);
    if (read != HandoffRead::kNone) {
        std::error_code ec;
        std::filesystem::remove(HandoffPath(dir), ec);
    }
    return read;
}

}  // namespace parlo
