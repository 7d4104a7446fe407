// The registry export text format ("Windows Registry Editor Version 5.00"),
// parsed into ordered keys and values and written back.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace platform {

struct RegKeyData {
    std::string path;  // "HKEY_CURRENT_USER\Software\X"
    std::vector<RegValue> values;
};

struct RegDocument {
    std::vector<RegKeyData> keys;  // in file order
};

// Parses the text. Lines that cannot be understood are skipped (a person may
// have edited the file) and counted in `skipped`; the result is false only
// when the header is missing from a non-empty file.
bool ParseRegText(std::string_view text, RegDocument* doc, size_t* skipped = nullptr);
std::string FormatRegText(const RegDocument& doc);

const char* HiveName(Hive hive);

}  // namespace platform
