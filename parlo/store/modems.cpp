#include "parlo/store/modems.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "parlo/store/file_io.h"
#include "parlo/store/port_list.h"
#include "platform/exclusive_file.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace parlo {

namespace {

std::string ModemKey(const std::string& sub) {
    return std::string(kExtModemsKey) + "\\" + sub;
}

std::string KeyNameFor(const std::string& friendly) {
    std::string key;
    for (char c : friendly)
        key += (c == '\\') ? '_' : c;
    return key.empty() ? std::string("Modem") : key;
}

}  // namespace

std::vector<ExtModem> ListExtModems(const platform::Registry& registry) {
    const auto hklm = platform::Hive::LocalMachine;
    std::vector<ExtModem> out;
    for (const std::string& sub : registry.Subkeys(hklm, kExtModemsKey)) {
        ExtModem m;
        m.key = sub;
        m.device_type = registry.QueryDword(hklm, ModemKey(sub), "DeviceType");
        m.friendly_name = registry.QueryString(hklm, ModemKey(sub), "FriendlyName");
        m.port = registry.QueryString(hklm, ModemKey(sub), "Port");
        out.push_back(std::move(m));
    }
    return out;
}

std::string AddExtModem(platform::Registry& registry, const std::string& friendly_name,
                        const std::string& port, std::string* error) {
    const auto hklm = platform::Hive::LocalMachine;
    auto fail = [&](const char* why) {
        if (error)
            *error = why;
        return std::string();
    };
    if (friendly_name.empty())
        return fail("the modem needs a name");
    for (const ExtModem& m : ListExtModems(registry)) {
        if (platform::EqualsNoCase(m.key, friendly_name) ||
            (m.friendly_name && *m.friendly_name == friendly_name)) {
            return fail("a modem of that name is registered already");
        }
    }
    std::string stored_port = port;
    if (!port.empty() && port[0] == '/') {
        stored_port = platform::AddPortAlias(registry, port);
        if (stored_port.empty())
            return fail("no free COM port name");
    }
    std::string key = KeyNameFor(friendly_name);
    if (!registry.SetDword(hklm, ModemKey(key), "DeviceType", 1) ||
        !registry.SetString(hklm, ModemKey(key), "FriendlyName", friendly_name) ||
        !registry.SetString(hklm, ModemKey(key), "Port", stored_port)) {
        return fail("the registry cannot be written");
    }
    return key;
}

bool RemoveExtModem(platform::Registry& registry, const std::string& name) {
    for (const ExtModem& m : ListExtModems(registry)) {
        if (platform::EqualsNoCase(m.key, name) || (m.friendly_name && *m.friendly_name == name)) {
            return registry.DeleteKey(platform::Hive::LocalMachine, ModemKey(m.key));
        }
    }
    return false;
}

bool ProbeModem(const std::string& device_path, std::chrono::milliseconds timeout) {
    // Opened without waiting for the carrier (O_NONBLOCK) and locked as the
    // phone link locks its port, so a port in use is not disturbed.
    platform::ExclusiveFile file;
    if (!file.OpenDevice(device_path))
        return false;
    int fd = file.fd();
    struct termios tio;
    if (::tcgetattr(fd, &tio) != 0)
        return false;  // not a serial device
    {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~(CRTSCTS | CSTOPB | PARENB);
        ::tcsetattr(fd, TCSANOW, &tio);
        ::tcflush(fd, TCIOFLUSH);
    }
    const char cmd[] = "AT\r";
    if (::write(fd, cmd, sizeof cmd - 1) != static_cast<ssize_t>(sizeof cmd - 1))
        return false;
    std::string reply;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        struct pollfd p = {fd, POLLIN, 0};
        int rc = ::poll(&p, 1, static_cast<int>(left.count()));
        if (rc < 0 && errno == EINTR)
            continue;
        if (rc <= 0)
            return false;
        char buf[256];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        reply.append(buf, static_cast<size_t>(n));
        if (reply.find("OK") != std::string::npos)
            return true;
        if (reply.size() > 4096)
            return false;
    }
}

std::vector<DetectedModem> DetectModems(platform::Registry& registry,
                                        const std::vector<platform::SerialDevice>& devices,
                                        const ModemProber& prober) {
    std::vector<DetectedModem> found;
    for (const platform::SerialDevice& dev : devices) {
        if (!prober(dev.path))
            continue;
        DetectedModem d;
        d.device = dev.path;
        for (const ExtModem& m : ListExtModems(registry)) {
            if (!m.port)
                continue;
            auto resolved = platform::ResolvePort(registry, *m.port);
            if (*m.port == dev.path || (resolved && *resolved == dev.path)) {
                d.alias = *m.port;
                d.name = m.friendly_name.value_or(m.key);
                break;
            }
        }
        if (d.alias.empty()) {
            std::string base = dev.description.empty() ? "Modem" : dev.description;
            std::string name = base + " (" + dev.path + ")";
            d.key = AddExtModem(registry, name, dev.path);
            if (d.key.empty())
                continue;
            d.name = name;
            d.alias = registry.QueryString(platform::Hive::LocalMachine, ModemKey(d.key), "Port")
                          .value_or("");
        }
        found.push_back(d);
    }
    return found;
}

}  // namespace parlo
