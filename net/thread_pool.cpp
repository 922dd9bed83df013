#include "net/thread_pool.h"

std::atomic<bool> ThreadPool::failThreadStartsForTesting{false};

ThreadPool::ThreadPool(int threadCount) {
  pthread_mutex_init(&mutex_, nullptr);
  pthread_cond_init(&wakeUp_, nullptr);
  for (int i = 0; i < threadCount; ++i) {
    pthread_t thread;
    if (failThreadStartsForTesting) continue;
    if (pthread_create(&thread, nullptr, &ThreadPool::Worker, this) == 0) threads_.push_back(thread);
  }
}

ThreadPool::~ThreadPool() { destroy(); }

void ThreadPool::addTask(Function function, void* argument) {
  pthread_mutex_lock(&mutex_);
  queue_.push_back(PoolTask{function, argument});
  ++pending_;
  pthread_mutex_unlock(&mutex_);
  pthread_cond_signal(&wakeUp_);
}

void* ThreadPool::Worker(void* argument) {
  auto* pool = static_cast<ThreadPool*>(argument);
  for (;;) {
    pthread_mutex_lock(&pool->mutex_);
    while (pool->pending_ == 0 && !pool->shutdown_) pthread_cond_wait(&pool->wakeUp_, &pool->mutex_);
    if (pool->shutdown_) {
      pthread_mutex_unlock(&pool->mutex_);
      return nullptr;
    }
    --pool->pending_;
    PoolTask task = pool->queue_.front();
    pool->queue_.pop_front();
    pthread_mutex_unlock(&pool->mutex_);
    task.function(task.argument);
  }
}

void ThreadPool::destroy() {
  if (destroyed_) return;
  destroyed_ = true;
  pthread_mutex_lock(&mutex_);
  shutdown_ = 1;
  pthread_mutex_unlock(&mutex_);
  pthread_cond_broadcast(&wakeUp_);
  for (pthread_t thread : threads_) pthread_join(thread, nullptr);
  threads_.clear();
  queue_.clear();
  pending_ = 0;
  pthread_mutex_destroy(&mutex_);
  pthread_cond_destroy(&wakeUp_);
}
