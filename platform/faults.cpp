#include "platform/error.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace {

struct Fault {
  FaultCall call;
  uint32_t code;
  std::wstring pathPart;
  int times;
};

std::mutex faultMutex;
std::vector<Fault> faults;
std::atomic<bool> anyFault{false};
std::atomic<int64_t> freeSpaceOverride{-1};

}  // namespace

void InjectFault(FaultCall call, uint32_t code, const std::wstring& pathPart, int times) {
  std::lock_guard<std::mutex> lock(faultMutex);
  faults.push_back({call, code, pathPart, times});
  anyFault = true;
}

void ClearFaults() {
  std::lock_guard<std::mutex> lock(faultMutex);
  faults.clear();
  anyFault = false;
}

bool FaultHits(FaultCall call, const std::wstring& path) {
  if (!anyFault.load(std::memory_order_relaxed)) return false;
  std::lock_guard<std::mutex> lock(faultMutex);
  for (auto& fault : faults) {
    if (fault.call != call || fault.times == 0) continue;
    if (!fault.pathPart.empty() && path.find(fault.pathPart) == std::wstring::npos) continue;
    if (fault.times > 0) --fault.times;
    SetLastErrorCode(fault.code);
    return true;
  }
  return false;
}

void OverrideFreeDiskSpaceForTesting(int64_t bytes) { freeSpaceOverride = bytes; }

bool FreeDiskSpaceOverride(uint64_t& bytes) {
  int64_t value = freeSpaceOverride;
  if (value < 0) return false;
  bytes = static_cast<uint64_t>(value);
  return true;
}
