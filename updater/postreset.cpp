#include "updater/postreset.h"

#include "platform/binio.h"
#include "updater/engine.h"
#include "updater/info.h"
#include "updater/manifest.h"
#include "updater/place.h"
#include "updater/places.h"

namespace fs = std::filesystem;

namespace updater {

std::vector<PendingFile> ParsePostResetList(std::string_view data) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t lf = data.find('\n', pos);
        if (lf == std::string_view::npos)
            lf = data.size();
        std::string line(data.substr(pos, lf - pos));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        pos = lf + 1;
    }
    std::vector<PendingFile> files;
    for (size_t i = 0; i + 1 < lines.size(); i += 2) {
        if (!IsSafeFileName(lines[i]) || lines[i + 1].empty())
            continue;
        files.push_back({lines[i], lines[i + 1]});
    }
    return files;
}

std::map<std::string, PendingSum> ParsePendingSums(std::string_view data) {
    std::map<std::string, PendingSum> sums;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t lf = data.find('\n', pos);
        if (lf == std::string_view::npos)
            lf = data.size();
        std::string_view line = data.substr(pos, lf - pos);
        pos = lf + 1;
        if (line.size() < 66 || line[64] != ' ')
            continue;
        // "<sha256> <name>[TAB<list dir>[TAB<destination>]]"
        std::vector<std::string> fields;
        std::string_view rest = line.substr(65);
        for (;;) {
            size_t tab = rest.find('\t');
            fields.emplace_back(rest.substr(0, tab));
            if (tab == std::string_view::npos)
                break;
            rest.remove_prefix(tab + 1);
        }
        fields.resize(3);
        PendingSum sum{std::string(line.substr(0, 64)), fields[1], fields[2]};
        if (IsSafeFileName(fields[0]))
            sums[fields[0]] = std::move(sum);
    }
    return sums;
}

std::string FormatPendingSum(const std::string& name, const PendingSum& sum) {
    return sum.sha256 + " " + name + "\t" + sum.list_dir + "\t" + sum.destination + "\n";
}

bool ForgetVersion(const std::string& dir, const std::string& name) {
    fs::path file = LocalPath(dir) / "version.info";
    std::string data;
    if (!platform::ReadFileBytes(file, &data))
        return false;
    // Keeps every line as it is but the "<FILE>" lines of that name.
    std::string kept;
    size_t pos = 0;
    bool dropped = false;
    while (pos < data.size()) {
        size_t lf = data.find('\n', pos);
        size_t end = lf == std::string::npos ? data.size() : lf + 1;
        std::string_view line(data.data() + pos, end - pos);
        pos = end;
        LocalList one = ParseVersionInfo(line);
        if (one.entries.size() == 1 && one.entries[0].name == name) {
            dropped = true;
            continue;
        }
        kept += line;
    }
    return !dropped || platform::WriteFileAtomic(file, kept);
}

int WorkOffPostResetList(Log* log) {
    fs::path list = TempDir() / "postresetcopy.ini";
    std::string data;
    if (!platform::ReadFileBytes(list, &data))
        return -1;
    std::string sum_data;
    bool have_sums = platform::ReadFileBytes(PendingSumsFile(), &sum_data);
    std::map<std::string, PendingSum> sums = ParsePendingSums(sum_data);
    const std::vector<fs::path> key_dirs = DefaultKeyDirs();
    bool need_sums = !LoadTrustedKeys(BuiltinKeys(), key_dirs).empty();
    int failed = 0;
    for (const PendingFile& file : ParsePostResetList(data)) {
        fs::path from = TempDir() / file.name;
        fs::path to = LocalPath(file.directory) / file.name;
        std::error_code ec;
        auto sum = sums.find(file.name);
        bool checked = sum != sums.end();
        auto refuse = [&](const std::string& why) {
            ++failed;
            if (log)
                log->Write("Refused: " + file.name + " " + why);
            fs::remove(from, ec);
            if (checked && !sum->second.list_dir.empty())
                ForgetVersion(sum->second.list_dir, file.name);
        };
        // The sum names the destination too: a list that sends a file
        // elsewhere than the updater wrote is refused.
        if (!checked && (have_sums || need_sums)) {
            refuse("has no checksum");
            continue;
        }
        if (checked && sum->second.destination != file.directory) {
            refuse("was sent to another folder while it waited");
            continue;
        }
        if (PackageOwned(to) || InKeyFolder(to, key_dirs)) {
            refuse("would be written to " + to.string() + ", where updates never write");
            continue;
        }
        StagedFile staged;
        StageResult staging =
            StageFile(from, to, checked ? sum->second.sha256 : std::string(), false, &staged);
        if (staging == StageResult::kChanged) {
            refuse("changed while it waited in \\windows\\temp");
            continue;
        }
        if (staging != StageResult::kStaged || !CommitStaged(staged)) {
            ++failed;
            if (checked && !sum->second.list_dir.empty())
                ForgetVersion(sum->second.list_dir, file.name);
            if (log)
                log->Write("can't move file: " + file.name + " to " + to.string());
            continue;
        }
        fs::remove(from, ec);
        if (log)
            log->Write("moving file: " + file.name + " to " + to.string());
    }
    std::error_code ec;
    fs::remove(list, ec);
    fs::remove(PendingSumsFile(), ec);
    return failed;
}

}  // namespace updater
