#include "net/thread_pool.h"

#include <system_error>

ThreadPool::ThreadPool(int threadCount) {
  for (int i = 0; i < threadCount; ++i) {
    try {
      threads_.emplace_back(&ThreadPool::work, this);
    } catch (const std::system_error&) {
      break;  // the workers that did start serve the queue
    }
  }
}

ThreadPool::~ThreadPool() { destroy(); }

void ThreadPool::addTask(Function function, void* argument) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(PoolTask{function, argument});
  }
  wakeUp_.notify_one();
}

void ThreadPool::work() {
  for (;;) {
    PoolTask task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wakeUp_.wait(lock, [this] { return shutdown_ || !queue_.empty(); });
      if (shutdown_) return;
      task = queue_.front();
      queue_.pop_front();
    }
    task.function(task.argument);
  }
}

void ThreadPool::destroy() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (shutdown_) return;
    shutdown_ = true;
    queue_.clear();
  }
  wakeUp_.notify_all();
  for (std::thread& thread : threads_) thread.join();
  threads_.clear();
}
