#include "parlo/sms/unread_journal.h"

#include <sstream>
#include <system_error>

#include "platform/binio.h"

namespace parlo {

std::filesystem::path UnreadJournal::PathIn(const std::filesystem::path& dir) {
    return dir / "vok.unread";
}

void UnreadJournal::Load(const std::filesystem::path& path) {
    path_ = path;
    entries_.clear();
    std::string text;
    on_disk_ = platform::ReadFileBytes(path, &text);
    if (!on_disk_)
        return;
    // One "STORAGE PDU" a line; a damaged line is passed over (the worst it
    // can do is leave a message stored read, as it would be without the file).
    std::istringstream in(text);
    std::string storage, pdu;
    while (in >> storage >> pdu) {
        if (pdu.find_first_not_of("0123456789ABCDEF") == std::string::npos)
            entries_.emplace(storage, pdu);
    }
}

bool UnreadJournal::Note(const std::string& storage, const std::vector<std::string>& pdus) {
    size_t before = entries_.size();
    for (const std::string& pdu : pdus)
        entries_.emplace(storage, pdu);
    if (entries_.size() == before && (on_disk_ || pdus.empty()))
        return true;
    std::string text;
    for (const auto& [s, p] : entries_)
        text += s + " " + p + "\n";
    on_disk_ = platform::WriteFileAtomic(path_, text);
    return on_disk_;
}

bool UnreadJournal::Contains(const std::string& storage, const std::string& pdu) const {
    return entries_.count({storage, pdu}) != 0;
}

bool UnreadJournal::Clear() {
    entries_.clear();
    if (!on_disk_)
        return true;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
    on_disk_ = static_cast<bool>(ec);
    return !on_disk_;
}

}  // namespace parlo
