#include "parlo/store/sync_lock.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/text.h"

namespace parlo {

namespace {

// The first line is "Skyvane synchronisation PID"; the second names the
// kind of run. Readers that know only the first line still see a
// synchronisation.
constexpr const char kMarker[] = "Skyvane synchronisation ";

const char* KindWord(SyncKind kind) {
    switch (kind) {
        case SyncKind::kPhonebook:
            return "phonebook";
        case SyncKind::kCall:
            return "call";
        case SyncKind::kMessages:
            break;
    }
    return "messages";
}

enum class Mark { kNone, kEmpty, kFound };

Mark ReadMark(const std::filesystem::path& file, SyncHolder* holder) {
    std::ifstream in(file);
    if (!in)
        return Mark::kNone;
    std::string line;
    if (!std::getline(in, line))
        return Mark::kEmpty;
    if (line.rfind(kMarker, 0) != 0)
        return Mark::kNone;
    std::string digits = line.substr(sizeof kMarker - 1);
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return Mark::kNone;
    pid_t pid = static_cast<pid_t>(std::stol(digits));
    if (pid <= 0 || (kill(pid, 0) != 0 && errno != EPERM))
        return Mark::kNone;
    holder->pid = pid;
    holder->kind = SyncKind::kMessages;
    std::string word;
    if (std::getline(in, word)) {
        if (word == KindWord(SyncKind::kPhonebook))
            holder->kind = SyncKind::kPhonebook;
        else if (word == KindWord(SyncKind::kCall))
            holder->kind = SyncKind::kCall;
    }
    return Mark::kFound;
}

// The program of a running process: its executable's name, else its
// command name; empty when neither can be read.
std::string ProgramOf(pid_t pid) {
    std::string proc = "/proc/" + std::to_string(pid);
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink(proc + "/exe", ec);
    if (!ec && !exe.filename().empty())
        return exe.filename().string();
    std::ifstream in(proc + "/comm");
    std::string comm;
    std::getline(in, comm);
    return comm;
}

}  // namespace

std::string SyncHolderName(const SyncHolder& holder) {
    if (holder.pid == ::getpid())
        return "in this program";
    std::string program = ProgramOf(holder.pid);
    return (program.empty() ? std::string("process ") : program + ", process ") +
           std::to_string(holder.pid);
}

std::u16string LockFileError(const std::filesystem::path& dir, int error) {
    return platform::FromUtf8("The lock file vok.lock cannot be created in " + dir.string() + " (" +
                              std::strerror(error) +
                              "). A synchronisation needs a writable installation folder.");
}

bool CSyncLock::Acquire(const std::filesystem::path& dir, SyncKind kind) {
    if (file_.is_open())
        return false;
    open_error_ = 0;
    if (!file_.Open(dir / "vok.lock", /*create=*/true, /*read_write=*/true)) {
        if (errno != EWOULDBLOCK && errno != EAGAIN && errno != EINTR)
            open_error_ = errno;
        return false;
    }
    std::string mark = kMarker + std::to_string(::getpid()) + "\n" + KindWord(kind) + "\n";
    // The mark only informs; a lock whose mark cannot be written still holds.
    if (ftruncate(file_.fd(), 0) == 0) {
        ssize_t n = pwrite(file_.fd(), mark.data(), mark.size(), 0);
        (void)n;
    }
    return true;
}

void CSyncLock::Release() {
    if (file_.is_open() && ftruncate(file_.fd(), 0) != 0) {
        // The mark of a process that has ended is ignored by Holder.
    }
    file_.Close();
}

std::optional<SyncHolder> CSyncLock::Holder(const std::filesystem::path& dir) {
    // A synchronisation writes its mark just after taking the lock; an empty
    // file may be one caught in between. The dial-up program never writes
    // one, so this waits at most a moment for it.
    SyncHolder holder;
    for (int tries = 0; tries < 25; ++tries) {
        Mark m = ReadMark(dir / "vok.lock", &holder);
        if (m == Mark::kFound)
            return holder;
        if (m == Mark::kNone)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

}  // namespace parlo
