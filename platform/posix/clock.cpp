#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <sys/stat.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <vector>

#include "platform/clock.h"

int64_t WallClockMs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int64_t MonotonicMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string NewGuidText() {
  unsigned char b[16] = {};
  std::ifstream random("/dev/urandom", std::ios::binary);
  random.read(reinterpret_cast<char*>(b), sizeof b);
  b[6] = (b[6] & 0x0F) | 0x40;  // version 4
  b[8] = (b[8] & 0x3F) | 0x80;  // RFC 4122 variant
  unsigned data1 = (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) | b[3];
  unsigned data2 = (unsigned(b[4]) << 8) | b[5];
  unsigned data3 = (unsigned(b[6]) << 8) | b[7];
  char text[40];
  snprintf(text, sizeof text, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", data1, data2, data3,
           b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

std::string GetLocalIp() {
  char host[128] = {};
  if (gethostname(host, sizeof host) != 0) return "";
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0 || !found) return "";
  std::vector<std::string> addresses;
  for (addrinfo* a = found; a; a = a->ai_next) {
    char text[INET_ADDRSTRLEN];
    auto* in = reinterpret_cast<sockaddr_in*>(a->ai_addr);
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    addresses.push_back(text);
  }
  freeaddrinfo(found);
  if (addresses.empty()) return "";
  // The host's address list walked as the launcher always has: the second address when there
  // are exactly two, the first otherwise.
  return addresses.size() == 2 ? addresses[1] : addresses[0];
}

namespace {

bool IsWiredEthernet(const std::string& name) {
  std::ifstream type("/sys/class/net/" + name + "/type");
  int arpType = -1;
  if (!(type >> arpType) || arpType != ARPHRD_ETHER) return false;
  struct stat st;
  return stat(("/sys/class/net/" + name + "/wireless").c_str(), &st) != 0 &&
         stat(("/sys/class/net/" + name + "/phy80211").c_str(), &st) != 0;
}

}  // namespace

std::string GetMacAddress() {
  std::string ip = GetLocalIp();
  if (ip.empty()) return "";
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return "";
  std::string adapter;
  for (ifaddrs* a = list; a && adapter.empty(); a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET) continue;
    char text[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr, text, sizeof text);
    if (ip == text && IsWiredEthernet(a->ifa_name)) adapter = a->ifa_name;
  }
  std::string mac;
  for (ifaddrs* a = list; a && !adapter.empty() && mac.empty(); a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_PACKET || adapter != a->ifa_name) continue;
    auto* link = reinterpret_cast<sockaddr_ll*>(a->ifa_addr);
    for (int i = 0; i < link->sll_halen; ++i) {
      char part[4];
      snprintf(part, sizeof part, i + 1 < link->sll_halen ? "%02x:" : "%02x", link->sll_addr[i]);
      mac += part;
    }
  }
  freeifaddrs(list);
  return mac;
}
