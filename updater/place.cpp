#include "updater/place.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace fs = std::filesystem;

namespace updater {

namespace {

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

struct MdCtxFree {
    void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Copies `in` to `out`, hashing what is written.
bool CopyHashing(int in, int out, std::string* hex) {
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return false;
    std::vector<char> buf(65536);
    for (;;) {
        ssize_t n = ::read(in, buf.data(), buf.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (EVP_DigestUpdate(ctx.get(), buf.data(), static_cast<size_t>(n)) != 1 ||
            !WriteAll(out, buf.data(), static_cast<size_t>(n))) {
            return false;
        }
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &size) != 1)
        return false;
    static const char kDigits[] = "0123456789abcdef";
    hex->clear();
    for (unsigned int i = 0; i < size; ++i) {
        *hex += kDigits[digest[i] >> 4];
        *hex += kDigits[digest[i] & 15];
    }
    return true;
}

}  // namespace

StageResult StageFile(const fs::path& from, const fs::path& target, const std::string& sha256,
                      bool program, StagedFile* staged, std::string* hash) {
    *staged = StagedFile();
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    Fd in(::open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat in_stat {};
    if (in.fd < 0 || ::fstat(in.fd, &in_stat) != 0 || !S_ISREG(in_stat.st_mode))
        return StageResult::kFailed;
    std::string pattern = (target.parent_path() / ".skyvane-update-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return StageResult::kFailed;
    StagedFile out{pattern, fs::path(pattern) / target.filename(), target};
    Fd copy(::open(out.file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    std::string copied;
    bool ok = copy.fd >= 0 && CopyHashing(in.fd, copy.fd, &copied);
    if (ok) {
        struct stat old_stat {};
        mode_t mode = program ? 0755 : 0644;
        if (::stat(target.c_str(), &old_stat) == 0 && S_ISREG(old_stat.st_mode))
            mode = old_stat.st_mode & 07777;
        ok = ::fchmod(copy.fd, mode) == 0 && ::fsync(copy.fd) == 0;
    }
    if (!ok) {
        DiscardStaged(out);
        return StageResult::kFailed;
    }
    if (hash)
        *hash = copied;
    if (!sha256.empty() && copied != sha256) {
        DiscardStaged(out);
        return StageResult::kChanged;
    }
    *staged = std::move(out);
    return StageResult::kStaged;
}

bool CommitStaged(const StagedFile& staged) {
    bool ok = ::rename(staged.file.c_str(), staged.target.c_str()) == 0;
    DiscardStaged(staged);
    return ok;
}

void DiscardStaged(const StagedFile& staged) {
    if (staged.folder.empty())
        return;
    std::error_code ec;
    fs::remove_all(staged.folder, ec);
}

}  // namespace updater
