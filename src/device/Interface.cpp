#include "device/Interface.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace zelto {

namespace {

std::optional<std::string> numericText(const sockaddr* addr) {
    if (addr == nullptr) return std::nullopt;
    char buffer[INET6_ADDRSTRLEN] = {};
    if (addr->sa_family == AF_INET) {
        auto* in = reinterpret_cast<const sockaddr_in*>(addr);
        if (inet_ntop(AF_INET, &in->sin_addr, buffer, sizeof buffer)) return std::string(buffer);
    } else if (addr->sa_family == AF_INET6) {
        auto* in6 = reinterpret_cast<const sockaddr_in6*>(addr);
        if (inet_ntop(AF_INET6, &in6->sin6_addr, buffer, sizeof buffer)) return std::string(buffer);
    }
    return std::nullopt;
}

}  // namespace

std::vector<Interface> Interface::allInterfaces() {
    std::vector<Interface> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return result;
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr) continue;
        int familyCode = entry->ifa_addr->sa_family;
        if (familyCode != AF_INET && familyCode != AF_INET6) continue;
        Interface item;
        item.name = entry->ifa_name ? entry->ifa_name : "";
        item.family = familyCode == AF_INET ? Family::ipv4 : Family::ipv6;
        item.address = numericText(entry->ifa_addr);
        item.netmask = numericText(entry->ifa_netmask);
        unsigned flags = entry->ifa_flags;
        item.running = flags & IFF_RUNNING;
        item.up = flags & IFF_UP;
        item.loopback = flags & IFF_LOOPBACK;
        item.multicastSupported = flags & IFF_MULTICAST;
        if (flags & IFF_BROADCAST) item.broadcastAddress = numericText(entry->ifa_broadaddr);
        result.push_back(std::move(item));
    }
    freeifaddrs(list);
    return result;
}

}  // namespace zelto
