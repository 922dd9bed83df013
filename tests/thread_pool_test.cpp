#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "net/thread_pool.h"

using namespace std::chrono_literals;

namespace {

std::mutex mutex;
std::vector<int> order;  // the numbers of the tasks that ran, in the order they ran

void* Number(int number) { return reinterpret_cast<void*>(static_cast<intptr_t>(number)); }

void Record(void* number) {
  std::lock_guard<std::mutex> lock(mutex);
  order.push_back(static_cast<int>(reinterpret_cast<intptr_t>(number)));
}

size_t Runs() {
  std::lock_guard<std::mutex> lock(mutex);
  return order.size();
}

// Queues tasks 0..count-1 on a fresh pool and waits (5 s at most) until all have run.
std::vector<int> RunAll(int workers, int count) {
  order.clear();
  ThreadPool pool(workers);
  EXPECT_EQ(pool.startedThreads(), workers);
  for (int i = 0; i < count; ++i) pool.addTask(&Record, Number(i));
  for (int i = 0; i < 500 && Runs() < size_t(count); ++i) std::this_thread::sleep_for(10ms);
  pool.destroy();
  return order;
}

}  // namespace

TEST(ThreadPool, RunsEveryTaskAndOneWorkerKeepsQueueOrder) {
  EXPECT_EQ(RunAll(2, 2000).size(), 2000u);
  std::vector<int> queued(100);
  std::iota(queued.begin(), queued.end(), 0);
  EXPECT_EQ(RunAll(1, 100), queued);
}

TEST(ThreadPool, DestroyWithQueuedTasksDropsThemAndReturns) {
  order.clear();
  auto started = std::chrono::steady_clock::now();
  {
    ThreadPool pool(2);
    for (int i = 0; i < 50; ++i) pool.addTask([](void* n) { std::this_thread::sleep_for(50ms); Record(n); }, Number(i));
    std::this_thread::sleep_for(20ms);
    pool.destroy();
    pool.destroy();  // a second call is harmless
  }
  // The two running tasks finish; the queued ones never start.
  EXPECT_LE(Runs(), 4u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}
