#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "net/thread_pool.h"

namespace {

struct Counter {
  std::atomic<int> runs{0};
  std::mutex mutex;
  std::vector<int> order;
};

struct Task {
  Counter* counter;
  int id;
};

void Record(void* argument) {
  auto* task = static_cast<Task*>(argument);
  {
    std::lock_guard<std::mutex> lock(task->counter->mutex);
    task->counter->order.push_back(task->id);
  }
  ++task->counter->runs;
}

void Slow(void* argument) {
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  Record(argument);
}

}  // namespace

TEST(ThreadPool, RunsManySmallTasks) {
  Counter counter;
  std::vector<Task> tasks;
  for (int i = 0; i < 2000; ++i) tasks.push_back({&counter, i});
  ThreadPool pool(2);
  EXPECT_EQ(pool.startedThreads(), 2);
  for (auto& task : tasks) pool.addTask(&Record, &task);
  for (int i = 0; i < 500 && counter.runs < 2000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  pool.destroy();
  EXPECT_EQ(counter.runs, 2000);
}

TEST(ThreadPool, OneWorkerRunsTasksInQueueOrder) {
  Counter counter;
  std::vector<Task> tasks;
  for (int i = 0; i < 100; ++i) tasks.push_back({&counter, i});
  ThreadPool pool(1);
  for (auto& task : tasks) pool.addTask(&Record, &task);
  for (int i = 0; i < 500 && counter.runs < 100; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  pool.destroy();
  std::vector<int> expected;
  for (int i = 0; i < 100; ++i) expected.push_back(i);
  EXPECT_EQ(counter.order, expected);
}

TEST(ThreadPool, DestroyWithQueuedTasksDropsThemAndReturns) {
  Counter counter;
  std::vector<Task> tasks;
  for (int i = 0; i < 50; ++i) tasks.push_back({&counter, i});
  auto started = std::chrono::steady_clock::now();
  {
    ThreadPool pool(2);
    for (auto& task : tasks) pool.addTask(&Slow, &task);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pool.destroy();
    pool.destroy();  // a second call is harmless
  }
  // The two running tasks finish; the queued ones never start.
  EXPECT_LE(counter.runs, 4);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST(ThreadPool, ThreadsThatCannotStartAreReported) {
  ThreadPool::failThreadStartsForTesting = true;
  ThreadPool pool(2);
  ThreadPool::failThreadStartsForTesting = false;
  EXPECT_EQ(pool.startedThreads(), 0);
  pool.destroy();
}
