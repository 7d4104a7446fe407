// Names that become file names inside the data directory's "groups" and "pb"
// folders.
#pragma once

#include <string>
#include <string_view>

namespace parlo {

// A group name can be a file name: not empty, no '/' and no NUL character,
// and short enough for the file system with the ".grp" ending. Every other
// name (blanks, dots, "..", letters of any script) is accepted as typed.
bool IsValidGroupName(std::u16string_view name);

// The file name (without ending) that stands for a phone identity. Letters,
// digits and "+-_ ." stay as they are (so the usual serial numbers name their
// file directly); every other byte of its UTF-8 form, a leading dot and '%'
// become "%XX". The result never contains '/', never is "." or "..", and two
// different identities never share a name.
std::string IdentityFileName(std::u16string_view identity);

}  // namespace parlo
