// The notification-area icon's state, apart from the system call that shows it: the icon is
// added (again when the taskbar is recreated, also after a player's message took it away), may
// show the balloon, and is taken away for good before the process ends. The self-update takes it away from the update thread while
// the window's thread may be adding it or showing the balloon, so every use of the icon's data,
// and the system call with it, holds the lock.
#pragma once

#include <functional>
#include <mutex>

enum class IconCall { Add, Modify, Delete };

template <typename Data>
class NotificationIcon {
 public:
  // shell makes the system call with the icon's data; withBalloon marks the data so that the
  // call shows the balloon.
  using Shell = std::function<bool(IconCall, Data&)>;
  using Mark = std::function<void(Data&)>;

  void init(const Data& data, Shell shell, Mark withBalloon) {
    std::lock_guard<std::mutex> lock(mutex_);
    data_ = data;
    shell_ = std::move(shell);
    withBalloon_ = std::move(withBalloon);
  }

  // False once the icon has been taken away for good: a taskbar recreated during the self-update's
  // hand-over brings back no icon that would outlive the process.
  bool add() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (removed_ || !shell_) return false;
    if (shell_(IconCall::Add, data_)) added_ = true;
    return added_;
  }

  // From now on every add or change also shows the balloon.
  bool showBalloon() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (removed_ || !shell_) return false;
    withBalloon_(data_);
    return shell_(IconCall::Modify, data_);
  }

  // From any thread, any number of times. The icon may be added again, unless it goes for good.
  void remove(bool forGood = false) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (added_) shell_(IconCall::Delete, data_);
    added_ = false;
    removed_ = removed_ || forGood;
  }
  void removeForGood() { remove(true); }

 private:
  std::mutex mutex_;
  Data data_{};
  Shell shell_;
  Mark withBalloon_;
  bool added_ = false;
  bool removed_ = false;
};
