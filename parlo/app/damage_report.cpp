#include "parlo/app/damage_report.h"

#include "platform/binio.h"
#include "platform/text.h"

namespace parlo {

namespace {

std::string Count(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

bool KeepDamagedCopy(const std::filesystem::path& file) {
    std::string bytes, kept;
    if (!platform::ReadFileBytes(file, &bytes))
        return false;
    std::filesystem::path copy = file;
    copy += ".damaged";
    if (platform::ReadFileBytes(copy, &kept) && kept == bytes)
        return true;
    return platform::WriteFileAtomic(copy, bytes);
}

std::u16string DamageText(const std::string& name, const std::string& what_kept, bool copy_kept) {
    std::string text = "The file " + name + " is damaged: " + what_kept;
    if (copy_kept)
        text += " A copy of the damaged file is kept as " + name + ".damaged.";
    else
        text += " No copy of the damaged file could be kept.";
    return platform::FromUtf8(text);
}

std::u16string RegistryDamageText(const RegistryDamage& d) {
    std::string text = "The registry file registry.reg is damaged: ";
    if (d.no_header)
        text += "its header is missing, so nothing of it could be read.";
    else
        text += Count(d.lines, "line", "lines") + " could not be read.";
    text += " " + Count(d.user_folders, "user folder was", "user folders were") + " read and kept.";
    if (!d.missing_ids.empty()) {
        text += " " + Count(d.hidden_messages, "message is", "messages are") +
                " in folders that it no longer names (id";
        text += d.missing_ids.size() == 1 ? " " : "s ";
        for (size_t i = 0; i < d.missing_ids.size(); ++i)
            text += (i ? ", " : "") + std::to_string(d.missing_ids[i]);
        text += "); they are kept in the store, and no new folder takes those ids.";
    }
    text +=
        " Before the file is next changed, it is copied to registry.reg.damaged, from which the "
        "lost values can be taken back by hand.";
    return platform::FromUtf8(text);
}

}  // namespace parlo
