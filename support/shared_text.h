// A wide text written by one thread and read by another: every read is a whole copy made
// under the lock, so a reader never sees a string while it is being replaced.
#pragma once

#include <mutex>
#include <string>

class SharedText {
 public:
  SharedText() = default;
  explicit SharedText(std::wstring initial) : text_(std::move(initial)) {}
  SharedText(const SharedText&) = delete;
  SharedText& operator=(const SharedText&) = delete;

  SharedText& operator=(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = text;
    return *this;
  }
  std::wstring get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  operator std::wstring() const { return get(); }

 private:
  mutable std::mutex mutex_;
  std::wstring text_;
};
