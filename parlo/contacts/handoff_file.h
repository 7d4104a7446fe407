// The hand-off file "newsms.tmp": one phone number that another program (the
// contacts action) leaves in the installation directory for the SMS client,
// which opens a new message to it.
//
// Layout (little-endian): int32 N, the number in N UTF-16 code units, one 0
// code unit: the record string of the contact files.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace parlo {

inline constexpr const char* kHandoffFileName = "newsms.tmp";
// The reader's buffer: 199 code units and the terminator.
inline constexpr int32_t kHandoffMaxUnits = 199;

std::filesystem::path HandoffPath(const std::filesystem::path& dir);

// Writes `number` (uncleaned, 1 to 199 code units) to dir/newsms.tmp,
// replacing an earlier one. False when the number is empty or too long, or the
// file cannot be written.
bool WriteHandoffFile(const std::filesystem::path& dir, std::u16string_view number);

enum class HandoffRead {
    kNone,     // no file
    kNumber,   // a number was read
    kRefused,  // the file was unreadable or its content is no number
};

// Reads dir/newsms.tmp and deletes it: every file that could be opened is
// consumed, even when its content is refused. The number is the text up to
// its first 0 code unit.
HandoffRead TakeHandoffFile(const std::filesystem::path& dir, std::u16string* number);

// Reads dir/newsms.tmp and leaves it in place.
HandoffRead ReadHandoffFile(const std::filesystem::path& dir, std::u16string* number);
// Deletes dir/newsms.tmp unless it now holds a number other than `number`
// (the raw number as read): a hand-off written meanwhile is kept.
bool RemoveHandoffFileIf(const std::filesystem::path& dir, std::u16string_view number);

// Parses the bytes of a hand-off file (exposed for the tests and the fuzzer).
bool ParseHandoff(std::string_view data, std::u16string* number);

}  // namespace parlo
