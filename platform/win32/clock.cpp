#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <objbase.h>
#include <sys/timeb.h>

#include <cstdio>
#include <vector>

#include "platform/clock.h"

int64_t WallClockMs() {
  __timeb64 now;
  _ftime64_s(&now);
  return static_cast<int64_t>(now.time) * 1000 + now.millitm;
}

int64_t MonotonicMs() { return static_cast<int64_t>(GetTickCount64()); }

std::string NewGuidText() {
  GUID guid{};
  CoCreateGuid(&guid);
  char text[40];
  snprintf(text, sizeof text, "%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
           static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
           guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

std::string GetLocalIp() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return "";
  char host[128] = {};
  if (gethostname(host, sizeof host) != 0) return "";
  hostent* entry = gethostbyname(host);
  if (!entry) return "";
  std::string result;
  for (int i = 0; entry->h_addr_list[i]; ++i) {
    in_addr address;
    memcpy(&address, entry->h_addr_list[i == 1 ? 1 : 0], sizeof address);
    result = inet_ntoa(address);
  }
  return result;
}

std::string GetMacAddress() {
  std::string ip = GetLocalIp();
  if (ip.empty()) return "";
  ULONG size = sizeof(IP_ADAPTER_INFO);
  std::vector<unsigned char> buffer(size);
  if (GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size) != ERROR_SUCCESS)
    buffer.resize(size);
  if (GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size) != ERROR_SUCCESS) return "";
  for (auto* adapter = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()); adapter; adapter = adapter->Next) {
    if (adapter->Type != MIB_IF_TYPE_ETHERNET || ip != adapter->IpAddressList.IpAddress.String) continue;
    std::string mac;
    for (UINT i = 0; i < adapter->AddressLength; ++i) {
      char part[4];
      snprintf(part, sizeof part, i + 1 < adapter->AddressLength ? "%02x:" : "%02x", adapter->Address[i]);
      mac += part;
    }
    return mac;
  }
  return "";
}
