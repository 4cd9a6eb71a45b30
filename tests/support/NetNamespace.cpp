#include "support/NetNamespace.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zelto::test {

std::string enterPrivateNetwork() {
    if (unshare(CLONE_NEWNET) != 0) {
        return std::string("unshare(CLONE_NEWNET) failed: ") + std::strerror(errno) +
               " (run the tests as root, or under `unshare -rn`)";
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) return std::string("socket failed: ") + std::strerror(errno);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    std::string error;
    if (ioctl(fd, SIOCGIFFLAGS, &ifr) != 0) {
        error = std::string("SIOCGIFFLAGS lo: ") + std::strerror(errno);
    } else {
        ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
        if (ioctl(fd, SIOCSIFFLAGS, &ifr) != 0) error = std::string("SIOCSIFFLAGS lo: ") + std::strerror(errno);
    }
    close(fd);
    return error;
}

int runCommand(const std::string& command) {
    int status = std::system(command.c_str());
    if (status == -1) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

}  // namespace zelto::test
