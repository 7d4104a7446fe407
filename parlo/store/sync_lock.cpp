#include "parlo/store/sync_lock.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace parlo {

namespace {

constexpr const char kMarker[] = "Skyvane synchronisation ";

}  // namespace

bool CSyncLock::Acquire(const std::filesystem::path& dir) {
    if (file_.is_open())
        return false;
    if (!file_.Open(dir / "vok.lock", /*create=*/true, /*read_write=*/true))
        return false;
    std::string mark = kMarker + std::to_string(::getpid()) + "\n";
    // The mark only informs; a lock whose mark cannot be written still holds.
    if (ftruncate(file_.fd(), 0) == 0) {
        ssize_t n = pwrite(file_.fd(), mark.data(), mark.size(), 0);
        (void)n;
    }
    return true;
}

void CSyncLock::Release() {
    if (file_.is_open() && ftruncate(file_.fd(), 0) != 0) {
        // The mark of a process that has ended is ignored by HeldBySync.
    }
    file_.Close();
}

bool CSyncLock::HeldBySync(const std::filesystem::path& dir) {
    std::ifstream in(dir / "vok.lock");
    std::string line;
    if (!in || !std::getline(in, line) || line.rfind(kMarker, 0) != 0)
        return false;
    std::string digits = line.substr(sizeof kMarker - 1);
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    pid_t pid = static_cast<pid_t>(std::stol(digits));
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

}  // namespace parlo
