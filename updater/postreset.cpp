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

std::map<std::string, std::string> ParsePendingSums(std::string_view data) {
    std::map<std::string, std::string> sums;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t lf = data.find('\n', pos);
        if (lf == std::string_view::npos)
            lf = data.size();
        std::string_view line = data.substr(pos, lf - pos);
        pos = lf + 1;
        if (line.size() < 66 || line[64] != ' ')
            continue;
        std::string name(line.substr(65));
        if (IsSafeFileName(name))
            sums[name] = std::string(line.substr(0, 64));
    }
    return sums;
}

int WorkOffPostResetList(Log* log) {
    fs::path list = TempDir() / "postresetcopy.ini";
    std::string data;
    if (!platform::ReadFileBytes(list, &data))
        return -1;
    std::string sum_data;
    bool have_sums = platform::ReadFileBytes(PendingSumsFile(), &sum_data);
    std::map<std::string, std::string> sums = ParsePendingSums(sum_data);
    bool need_sums = !LoadTrustedKeys(BuiltinKeys(), DefaultKeysDir()).empty();
    int failed = 0;
    for (const PendingFile& file : ParsePostResetList(data)) {
        fs::path from = TempDir() / file.name;
        fs::path to = LocalPath(file.directory) / file.name;
        std::error_code ec;
        auto sum = sums.find(file.name);
        std::string hash;
        bool checked = sum != sums.end();
        if ((checked && (!Sha256File(from, &hash, nullptr) || hash != sum->second)) ||
            (!checked && (have_sums || need_sums))) {
            ++failed;
            if (log) {
                log->Write(
                    "Refused: " + file.name +
                    (checked ? " changed while it waited in \\windows\\temp" : " has no checksum"));
            }
            fs::remove(from, ec);
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
