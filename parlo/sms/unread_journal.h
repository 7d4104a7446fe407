// The messages that a listing found unread on the phone, kept on disk until
// they are stored. "AT+CMGL" marks every message it lists read on the phone
// at once; a run killed before it has stored them would leave the next run
// to find them read. The next run reads this file first and stores such a
// message unread when the phone gives it again, byte for byte.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace parlo {

class UnreadJournal {
  public:
    // The file in the installation directory.
    static std::filesystem::path PathIn(const std::filesystem::path& dir);

    // Takes in what an earlier run left (nothing when there is no file).
    void Load(const std::filesystem::path& path);
    // Adds the PDUs (upper-case hexadecimal) of messages just listed unread
    // in `storage` and writes the file, before they are stored. False when
    // the file could not be written.
    bool Note(const std::string& storage, const std::vector<std::string>& pdus);
    // Whether `pdu` was listed unread in `storage` by this run or an earlier one.
    bool Contains(const std::string& storage, const std::string& pdu) const;
    // Everything listed is stored: the file goes. False when it stays.
    bool Clear();

  private:
    std::filesystem::path path_;
    std::set<std::pair<std::string, std::string>> entries_;
    bool on_disk_ = false;
};

}  // namespace parlo
