#pragma once

// Runs a body on several threads released together, for the tests that share
// one object between threads the way programs do.

#include <atomic>
#include <thread>
#include <vector>

namespace pdatest {

// Runs body(t) for t in [0, count) on count threads that start together.
template <typename Body>
void together(int count, Body body) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t)
    threads.emplace_back([&, t] {
      ++ready;
      while (ready.load() < count) std::this_thread::yield();
      body(t);
    });
  for (std::thread& thread : threads) thread.join();
}

}  // namespace pdatest
