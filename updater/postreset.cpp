#include "updater/postreset.h"

#include <sys/stat.h>

#include "platform/binio.h"
#include "updater/engine.h"
#include "updater/info.h"
#include "updater/manifest.h"

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
        std::string_view rest = line.substr(65);
        size_t tab = rest.find('\t');
        std::string name(rest.substr(0, tab));
        PendingSum sum{std::string(line.substr(0, 64)), tab == std::string_view::npos
                                                            ? std::string()
                                                            : std::string(rest.substr(tab + 1))};
        if (IsSafeFileName(name))
            sums[name] = std::move(sum);
    }
    return sums;
}

std::string FormatPendingSum(const std::string& name, const PendingSum& sum) {
    std::string line = sum.sha256 + " " + name;
    if (!sum.list_dir.empty())
        line += "\t" + sum.list_dir;
    return line + "\n";
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
    bool need_sums = !LoadTrustedKeys(BuiltinKeys(), DefaultKeysDir()).empty();
    int failed = 0;
    for (const PendingFile& file : ParsePostResetList(data)) {
        fs::path from = TempDir() / file.name;
        fs::path to = LocalPath(file.directory) / file.name;
        std::error_code ec;
        auto sum = sums.find(file.name);
        std::string hash;
        bool checked = sum != sums.end();
        auto forget = [&] {
            if (checked && !sum->second.list_dir.empty())
                ForgetVersion(sum->second.list_dir, file.name);
        };
        if ((checked && (!Sha256File(from, &hash, nullptr) || hash != sum->second.sha256)) ||
            (!checked && (have_sums || need_sums))) {
            ++failed;
            if (log) {
                log->Write(
                    "Refused: " + file.name +
                    (checked ? " changed while it waited in \\windows\\temp" : " has no checksum"));
            }
            fs::remove(from, ec);
            forget();
            continue;
        }
        fs::create_directories(to.parent_path(), ec);
        struct stat old_stat {};
        if (::stat(to.c_str(), &old_stat) == 0 && S_ISREG(old_stat.st_mode)) {
            ::chmod(from.c_str(), old_stat.st_mode & 07777);
        }
        fs::rename(from, to, ec);
        if (ec) {
            ec.clear();
            fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
            if (!ec)
                fs::remove(from, ec);
        }
        if (ec) {
            ++failed;
            forget();
            if (log)
                log->Write("can't move file: " + file.name + " to " + to.string());
        } else if (log) {
            log->Write("moving file: " + file.name + " to " + to.string());
        }
    }
    std::error_code ec;
    fs::remove(list, ec);
    fs::remove(PendingSumsFile(), ec);
    return failed;
}

}  // namespace updater
