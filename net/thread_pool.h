// A small fixed pool of POSIX threads with a first-in, first-out task queue.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

class ThreadPool {
 public:
  using Function = void (*)(void*);

  explicit ThreadPool(int threadCount);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  void addTask(Function function, void* argument);
  // Stops the workers after the tasks they are running; tasks still queued are dropped.
  void destroy();
  // Workers that actually started (thread creation can fail).
  int startedThreads() const { return static_cast<int>(threads_.size()); }

  // Test seam: make every thread creation fail, as it can when a system runs out of threads.
  static std::atomic<bool> failThreadStartsForTesting;

 private:
  struct PoolTask {
    Function function;
    void* argument;
  };
  static void* Worker(void* pool);

  pthread_mutex_t mutex_;
  pthread_cond_t wakeUp_;
  std::deque<PoolTask> queue_;
  std::vector<pthread_t> threads_;
  int32_t pending_ = 0;
  int32_t shutdown_ = 0;
  bool destroyed_ = false;
};
