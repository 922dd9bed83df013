#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>

#include "net/thread_pool.h"

using namespace std::chrono_literals;

namespace {

std::mutex mutex;
std::multiset<intptr_t> ran;  // the numbers of the tasks that ran

void Record(void* number) {
  std::lock_guard<std::mutex> lock(mutex);
  ran.insert(reinterpret_cast<intptr_t>(number));
}

size_t Runs() {
  std::lock_guard<std::mutex> lock(mutex);
  return ran.size();
}

}  // namespace

// Every queued task runs, once, on one of the two workers.
TEST(ThreadPool, RunsEveryTaskOnce) {
  ran.clear();
  ThreadPool pool(2);
  for (intptr_t i = 0; i < 2000; ++i) pool.addTask(&Record, reinterpret_cast<void*>(i));
  for (int i = 0; i < 500 && Runs() < 2000u; ++i) std::this_thread::sleep_for(10ms);
  pool.destroy();
  EXPECT_EQ(ran.size(), 2000u);
  EXPECT_EQ(std::set<intptr_t>(ran.begin(), ran.end()).size(), 2000u);  // none ran twice
}

TEST(ThreadPool, DestroyWithQueuedTasksDropsThemAndReturns) {
  ran.clear();
  auto started = std::chrono::steady_clock::now();
  {
    ThreadPool pool(2);
    for (int i = 0; i < 50; ++i) pool.addTask([](void* n) { std::this_thread::sleep_for(50ms); Record(n); }, nullptr);
    std::this_thread::sleep_for(20ms);
    pool.destroy();  // the destructor calls it a second time
  }
  // The two running tasks finish; the queued ones never start.
  EXPECT_LE(Runs(), 4u);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
}
