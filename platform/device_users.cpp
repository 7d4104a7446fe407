#include "platform/device_users.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/process.h"

namespace platform {
namespace fs = std::filesystem;

namespace {

bool AllDigits(const char* s) {
    if (*s == '\0')
        return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::string ProgramOf(const fs::path& proc_pid) {
    std::error_code ec;
    fs::path exe = fs::read_symlink(proc_pid / "exe", ec);
    if (!ec) {
        std::string name = exe.filename().string();
        const std::string deleted = " (deleted)";
        if (name.size() > deleted.size() &&
            name.compare(name.size() - deleted.size(), deleted.size(), deleted) == 0)
            name.resize(name.size() - deleted.size());
        if (!name.empty())
            return name;
    }
    return FirstLine(proc_pid / "comm");
}

bool SameFile(const struct stat& a, const struct stat& b) {
    if (S_ISCHR(a.st_mode) || S_ISBLK(a.st_mode))
        return (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) && a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string DeviceName(const std::string& device_path) {
    return fs::path(device_path).filename().string();
}

bool IsHex4(const std::string& s) {
    return s.size() == 4 && std::all_of(s.begin(), s.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
           });
}

// The index N of a pseudo-terminal's slave side /dev/pts/N; -1 for any
// other file.
int PtsIndex(const std::string& path) {
    std::error_code ec;
    fs::path real = fs::canonical(path, ec);
    if (ec || real.parent_path() != "/dev/pts")
        return -1;
    const std::string name = real.filename().string();
    return AllDigits(name.c_str()) ? std::atoi(name.c_str()) : -1;
}

// Whether descriptor `fd` of a process is the master side of pseudo-terminal
// `index`: the kernel names the slave's index in the master's fdinfo.
bool IsPtyMaster(const fs::path& proc_pid, const char* fd, int index) {
    std::error_code ec;
    const std::string target = fs::read_symlink(proc_pid / "fd" / fd, ec).string();
    if (ec || (target != "/dev/ptmx" && target != "/dev/pts/ptmx"))
        return false;
    std::ifstream info(proc_pid / "fdinfo" / fd);
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("tty-index:", 0) == 0)
            return std::atoi(line.c_str() + 10) == index;
    }
    return false;
}

}  // namespace

std::vector<DeviceUser> DeviceUsers(const std::string& path, const fs::path& proc) {
    std::vector<DeviceUser> users;
    struct stat target;
    if (::stat(path.c_str(), &target) != 0)
        return users;
    const pid_t self = ::getpid();
    const int pts = PtsIndex(path);
    DIR* d = ::opendir(proc.c_str());
    if (!d)
        return users;
    while (dirent* e = ::readdir(d)) {
        if (!AllDigits(e->d_name))
            continue;
        pid_t pid = static_cast<pid_t>(std::atol(e->d_name));
        if (pid == self)
            continue;
        fs::path fd_dir = proc / e->d_name / "fd";
        DIR* fds = ::opendir(fd_dir.c_str());
        if (!fds)
            continue;  // gone, or not ours to look at
        // The process that holds the master side of a pseudo-terminal is
        // the other end of the line (a simulated phone, a terminal), not a
        // rival: it is not listed, whether or not it holds the slave too.
        bool holds = false, other_end = false;
        while (dirent* f = ::readdir(fds)) {
            if (!AllDigits(f->d_name))
                continue;
            if (pts >= 0 && IsPtyMaster(proc / e->d_name, f->d_name, pts)) {
                other_end = true;
                break;
            }
            struct stat st;
            if (!holds && ::stat((fd_dir / f->d_name).c_str(), &st) == 0 && SameFile(st, target))
                holds = true;
        }
        ::closedir(fds);
        if (holds && !other_end)
            users.push_back({pid, ProgramOf(proc / e->d_name)});
    }
    ::closedir(d);
    std::sort(users.begin(), users.end(),
              [](const DeviceUser& a, const DeviceUser& b) { return a.pid < b.pid; });
    return users;
}

ModemManagerAnswer AskModemManager(const std::string& device_path) {
    std::vector<std::string> running = RunningProgramNames();
    if (std::find(running.begin(), running.end(), "ModemManager") == running.end())
        return ModemManagerAnswer::kNotRunning;
    // Its object tree lists every modem with its ports by device name.
    std::optional<std::string> answer;
    if (fs::path busctl = FindOnPath("busctl"); !busctl.empty()) {
        answer = RunCapture(busctl,
                            {"--system", "--timeout=3", "call", "org.freedesktop.ModemManager1",
                             "/org/freedesktop/ModemManager1", "org.freedesktop.DBus.ObjectManager",
                             "GetManagedObjects"},
                            5000);
    }
    if (!answer) {
        if (fs::path gdbus = FindOnPath("gdbus"); !gdbus.empty()) {
            answer = RunCapture(
                gdbus,
                {"call", "--system", "--timeout", "3", "--dest", "org.freedesktop.ModemManager1",
                 "--object-path", "/org/freedesktop/ModemManager1", "--method",
                 "org.freedesktop.DBus.ObjectManager.GetManagedObjects"},
                5000);
        }
    }
    if (!answer)
        return ModemManagerAnswer::kNoAnswer;
    const std::string name = DeviceName(device_path);
    // busctl quotes strings with ", gdbus with '.
    if (answer->find('"' + name + '"') != std::string::npos ||
        answer->find('\'' + name + '\'') != std::string::npos)
        return ModemManagerAnswer::kClaims;
    return ModemManagerAnswer::kLeavesAlone;
}

std::optional<UsbIds> UsbIdsOf(const std::string& device_path, const fs::path& sysfs_tty) {
    std::error_code ec;
    // A "COMn:" alias resolves to a device path first; a symlink such as
    // /dev/serial/by-id/... leads to the tty's own name.
    fs::path real = fs::canonical(device_path, ec);
    std::string name = ec ? DeviceName(device_path) : real.filename().string();
    fs::path dir = fs::canonical(sysfs_tty / name / "device", ec);
    if (ec)
        return std::nullopt;
    for (int depth = 0; depth < 8 && !dir.empty() && dir != dir.root_path(); ++depth) {
        std::string vendor = FirstLine(dir / "idVendor");
        std::string product = FirstLine(dir / "idProduct");
        if (IsHex4(vendor) && IsHex4(product))
            return UsbIds{vendor, product};
        dir = dir.parent_path();
    }
    return std::nullopt;
}

std::string ModemManagerIgnoreRule(const UsbIds& ids) {
    return "ATTRS{idVendor}==\"" + ids.vendor + "\", ATTRS{idProduct}==\"" + ids.product +
           "\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"";
}

DeviceHolders FindDeviceHolders(const std::string& device_path, const fs::path& sysfs_tty) {
    DeviceHolders h;
    h.users = DeviceUsers(device_path);
    h.modem_manager = AskModemManager(device_path);
    h.ids = UsbIdsOf(device_path, sysfs_tty);
    return h;
}

std::string ExplainDeviceHolders(const std::string& device_path, const DeviceHolders& h,
                                 const std::string& modem_name) {
    bool mm_holds = h.modem_manager == ModemManagerAnswer::kClaims;
    for (const DeviceUser& u : h.users)
        mm_holds |= u.program == "ModemManager";
    if (h.users.empty() && !mm_holds)
        return "";
    std::string out;
    for (const DeviceUser& u : h.users) {
        out += device_path + " is held open by " + (u.program.empty() ? "a process" : u.program) +
               " (process " + std::to_string(u.pid) + ").\n";
    }
    if (mm_holds && std::none_of(h.users.begin(), h.users.end(),
                                 [](const DeviceUser& u) { return u.program == "ModemManager"; }))
        out += device_path + " is used by ModemManager.\n";
    out += "Two programs talking to the phone at once both get garbage answers.\n";
    if (!mm_holds) {
        out += "Close that program and try again.\n";
        return out;
    }
    out += "To make ModemManager leave this device alone, add a udev rule";
    if (h.ids) {
        out += " (USB vendor " + h.ids->vendor + ", product " + h.ids->product + ") to " +
               std::string(kUdevRuleFile) + ":\n  " + ModemManagerIgnoreRule(*h.ids) + "\n";
        out +=
            "then run 'sudo udevadm control --reload' and 'sudo udevadm trigger', and "
            "plug the phone in again.\n";
        out += "'skyvane-modem-rule " + (modem_name.empty() ? std::string("NAME") : modem_name) +
               "' writes the rule for a registered modem.\n";
    } else {
        out +=
            " with ENV{ID_MM_DEVICE_IGNORE}=\"1\" for the device's USB vendor and product "
            "id (see 'udevadm info " +
            device_path + "'), or stop ModemManager ('sudo systemctl stop ModemManager').\n";
    }
    return out;
}

std::string ExplainOpenError(const std::string& device_path, int error, const std::string& group,
                             bool user_in_group) {
    if (error == 0)
        return "";
    std::string out = "Cannot open " + device_path + ": " + std::strerror(error) + ".\n";
    if ((error == EACCES || error == EPERM) && group == "dialout" && !user_in_group) {
        out += device_path +
               " belongs to the group \"dialout\", and you are not in it. Add yourself "
               "with 'sudo adduser $USER dialout', then log out and in again.\n";
    }
    return out;
}

std::string ExplainOpenFailure(const std::string& device_path) {
    int fd = ::open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return "";
    }
    const int error = errno;
    std::string group;
    bool in_group = false;
    struct stat st;
    if (::stat(device_path.c_str(), &st) == 0) {
        if (const struct group* g = ::getgrgid(st.st_gid))
            group = g->gr_name;
        in_group = ::getegid() == st.st_gid;
        gid_t groups[256];
        int n = ::getgroups(256, groups);
        for (int i = 0; i < n; ++i)
            in_group |= groups[i] == st.st_gid;
    }
    return ExplainOpenError(device_path, error, group, in_group);
}

}  // namespace platform
