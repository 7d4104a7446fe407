#include "cordis/serial_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "cordis/wake_event.h"
#include "platform/exclusive_file.h"

namespace cordis {

bool BaudToSpeed(int baud, unsigned int* speed) {
    static const struct {
        int baud;
        speed_t speed;
    } kSpeeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000},
    };
    for (const auto& s : kSpeeds) {
        if (s.baud == baud) {
            *speed = s.speed;
            return true;
        }
    }
    return false;
}

bool SerialPort::Open(const std::string& device) {
    Close();
    // Opened without waiting for the carrier, never as this process's
    // terminal, and locked so that no other program talks to the phone.
    platform::ExclusiveFile port;
    if (!port.OpenDevice(device))
        return false;
    fd_ = port.Release();
    begin_ = end_ = 0;
    skip_blank_ = false;
    // What an earlier session left unread would be taken for the first
    // answers of this one.
    tcflush(fd_, TCIFLUSH);
    return true;
}

void SerialPort::Close() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
    begin_ = end_ = 0;
    skip_blank_ = false;
}

bool ApplyLineSettings(const LineSettings& s, termios* tio) {
    speed_t speed;
    if (!BaudToSpeed(s.baud, &speed))
        return false;
    tcflag_t size;
    switch (s.byte_size) {
        case 5:
            size = CS5;
            break;
        case 6:
            size = CS6;
            break;
        case 7:
            size = CS7;
            break;
        case 8:
            size = CS8;
            break;
        default:
            return false;
    }
    // Raw bytes in both directions: no line editing, echo, signals, character
    // translation or software flow control; no parity checking.
    cfmakeraw(tio);
    tio->c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    tio->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio->c_cflag |= size | CREAD | CLOCAL;
    switch (s.parity) {
        case 1:
            tio->c_cflag |= PARENB | PARODD;
            break;
        case 2:
            tio->c_cflag |= PARENB;
            break;
        case 3:
            tio->c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case 4:
            tio->c_cflag |= PARENB | CMSPAR;
            break;
        default:
            break;
    }
    // One and a half stop bits do not exist here: two are used.
    if (s.stop_bits == 1 || s.stop_bits == 2)
        tio->c_cflag |= CSTOPB;
    // Reads are waited for with poll; a read itself never blocks.
    tio->c_cc[VMIN] = 0;
    tio->c_cc[VTIME] = 0;
    return cfsetispeed(tio, speed) == 0 && cfsetospeed(tio, speed) == 0;
}

bool SerialPort::Configure(const LineSettings& s) {
    if (fd_ < 0)
        return false;
    termios tio;
    if (tcgetattr(fd_, &tio) != 0)
        return false;
    if (!ApplyLineSettings(s, &tio))
        return false;
    if (tcsetattr(fd_, TCSANOW, &tio) != 0)
        return false;
    // RTS held on. A pseudo-terminal has no modem lines; that is no error.
    int rts = TIOCM_RTS;
    ioctl(fd_, TIOCMBIS, &rts);
    return true;
}

SerialPort::Ready SerialPort::WaitFor(short events, const WakeEvent& cancel, int timeout_ms) {
    for (;;) {
        if (cancel.IsSet())
            return Ready::Cancelled;
        pollfd fds[2] = {{fd_, events, 0}, {cancel.fd(), POLLIN, 0}};
        int n = poll(fds, cancel.fd() >= 0 ? 2 : 1, timeout_ms);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Ready::Failed;
        }
        if (n == 0)
            return Ready::TimedOut;
        if (fds[1].revents != 0 || cancel.IsSet())
            return Ready::Cancelled;
        // The caller found nothing to do before waiting, so a hang-up or an
        // error now means the port is gone (the caller may try once more).
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
            return Ready::Failed;
        if (fds[0].revents & events)
            return Ready::Data;
    }
}

SerialPort::Io SerialPort::WriteAll(std::string_view bytes, const WakeEvent& cancel) {
    if (fd_ < 0)
        return Io::Failed;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return Io::Failed;
        Ready r = WaitFor(POLLOUT, cancel);
        if (r == Ready::Cancelled)
            return Io::Cancelled;
        if (r == Ready::Failed)
            return Io::Failed;
    }
    return Io::Ok;
}

SerialPort::Io SerialPort::ReadByte(uint8_t* byte, const WakeEvent& cancel, int timeout_ms) {
    if (fd_ < 0)
        return Io::Failed;
    bool last_try = false;
    for (;;) {
        while (begin_ < end_) {
            uint8_t b = buffer_[begin_++];
            bool skip = skip_blank_ && b == ' ';
            skip_blank_ = false;
            if (skip)
                continue;
            *byte = b;
            return Io::Ok;
        }
        if (cancel.IsSet())
            return Io::Cancelled;
        ssize_t n = read(fd_, buffer_, sizeof buffer_);
        if (n > 0) {
            begin_ = 0;
            end_ = static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return Io::Failed;
        // Nothing there yet (a read of 0 bytes is "no data" with VMIN 0).
        if (last_try)
            return Io::Failed;
        Ready r = WaitFor(POLLIN, cancel, timeout_ms);
        if (r == Ready::Cancelled)
            return Io::Cancelled;
        if (r == Ready::TimedOut)
            return Io::TimedOut;
        // Bytes sent just before a hang-up are still handed out.
        if (r == Ready::Failed)
            last_try = true;
    }
}

}  // namespace cordis
