// A small fixed pool of worker threads with a first-in, first-out task queue.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

class ThreadPool {
 public:
  using Function = void (*)(void*);

  // Starts up to threadCount workers; a system out of threads may start fewer, or none.
  explicit ThreadPool(int threadCount);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  void addTask(Function function, void* argument);
  // Stops the workers after the tasks they are running; tasks still queued are dropped.
  void destroy();
  // Workers that actually started.
  int startedThreads() const { return static_cast<int>(threads_.size()); }

 private:
  struct PoolTask {
    Function function;
    void* argument;
  };
  void work();

  std::mutex mutex_;
  std::condition_variable wakeUp_;
  std::deque<PoolTask> queue_;
  std::vector<std::thread> threads_;
  bool shutdown_ = false;
};
