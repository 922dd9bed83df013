#include <gtest/gtest.h>

#include <algorithm>
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

}  // namespace

// Every queued task runs, once, on one of the two workers.
TEST(ThreadPool, RunsEveryTaskOnce) {
  order.clear();
  ThreadPool pool(2);
  EXPECT_EQ(pool.startedThreads(), 2);
  for (int i = 0; i < 2000; ++i) pool.addTask(&Record, Number(i));
  for (int i = 0; i < 500 && Runs() < 2000u; ++i) std::this_thread::sleep_for(10ms);
  pool.destroy();
  std::vector<int> every(2000);
  std::iota(every.begin(), every.end(), 0);
  std::sort(order.begin(), order.end());
  EXPECT_EQ(order, every);
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
