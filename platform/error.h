// The thread's last operating-system error code (GetLastError on Windows, errno on Linux),
// and a test-only way to make a chosen platform call fail with a chosen code.
#pragma once

#include <cstdint>
#include <string>

uint32_t LastErrorCode();
void SetLastErrorCode(uint32_t code);

// Platform calls that a test can make fail on purpose.
enum class FaultCall {
  CreateDirectory,
  OpenFile,
  DeleteFile,
  RemoveDirectory,
  CopyFile,
  Rename,
  DiskFree,
  FileSize,
};

// Makes the next `times` calls of `call` whose path contains `pathPart` fail with `code`
// (times < 0: every call). An empty pathPart matches every path.
void InjectFault(FaultCall call, uint32_t code, const std::wstring& pathPart = L"", int times = -1);
void ClearFaults();
// True (with the last error set to the injected code) when an injected fault applies.
bool FaultHits(FaultCall call, const std::wstring& path);

// Test-only: the free disk space that FreeDiskSpace reports (negative: the real figure).
void OverrideFreeDiskSpaceForTesting(int64_t bytes);
bool FreeDiskSpaceOverride(uint64_t& bytes);
