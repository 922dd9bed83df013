// Owners of Win32 handles: each frees its handle exactly once, when it goes or is reset, and can
// only be moved, so no handle is freed twice or forgotten on an early return.
#pragma once

#include <windows.h>

#include <utility>

template <typename Handle, BOOL(WINAPI* Free)(Handle)>
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  Handle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  // The handle is someone else's to free from now on.
  Handle release() { return std::exchange(handle_, nullptr); }
  void reset() {
    if (handle_) Free(std::exchange(handle_, nullptr));
  }

 private:
  Handle handle_ = nullptr;
};

// A menu; a submenu appended to it is freed with it.
using MenuHandle = ScopedHandle<HMENU, DestroyMenu>;
using KernelHandle = ScopedHandle<HANDLE, CloseHandle>;
