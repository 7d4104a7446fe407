#include "tools/phonesim/pty.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace phonesim {

bool Pty::Open(std::string* error) {
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        *error = std::string("posix_openpt: ") + strerror(errno);
        return false;
    }
    char name[128];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name)) {
        *error = std::string("pseudo-terminal: ") + strerror(errno);
        Close();
        return false;
    }
    device_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        *error = "open " + device_ + ": " + strerror(errno);
        Close();
        return false;
    }
    termios tio{};
    if (tcgetattr(slave_, &tio) != 0) {
        *error = std::string("tcgetattr: ") + strerror(errno);
        Close();
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
        *error = std::string("tcsetattr: ") + strerror(errno);
        Close();
        return false;
    }
    int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags | O_NONBLOCK);
    return true;
}

int Pty::Unread() const {
    int n = 0;
    if (slave_ < 0 || ioctl(slave_, FIONREAD, &n) != 0)
        return 0;
    return n;
}

void Pty::Close() {
    if (master_ >= 0)
        close(master_);
    if (slave_ >= 0)
        close(slave_);
    master_ = -1;
    slave_ = -1;
}

}  // namespace phonesim
