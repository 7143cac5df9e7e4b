#include "base/ordered_work.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

// Records what the pool does: each step's worker result in its slot, and the order of takes,
// the most steps in flight and their weight at once.
class Recorder : public OrderedTask {
 public:
  Recorder(uint32_t steps, uint32_t window, uint32_t stopAt)
      : slots_(window), stopAt_(stopAt), weights_(steps, 1) {}

  uint64_t Weight(uint32_t step) override { return weights_[step]; }
  void Work(uint32_t, uint32_t step, uint32_t slot) override {
    const uint32_t inFlight = ++inFlight_;
    uint32_t seen = maxInFlight_;
    while (inFlight > seen && !maxInFlight_.compare_exchange_weak(seen, inFlight)) {
    }
    slots_[slot] = step * 3;
  }
  bool Take(uint32_t step, uint32_t slot) override {
    --inFlight_;
    taken_.push_back(step);
    EXPECT_EQ(slots_[slot], step * 3);
    return step != stopAt_;
  }

  std::vector<uint32_t> slots_;
  uint32_t stopAt_;
  std::vector<uint64_t> weights_;
  std::vector<uint32_t> taken_;
  std::atomic<uint32_t> inFlight_{0};
  std::atomic<uint32_t> maxInFlight_{0};
};

TEST(RunOrdered, TakesEveryStepInOrderWithinItsWindow) {
  struct Case {
    uint32_t steps, threads, window, stopAt;
  } cases[] = {
      {0, 4, 8, UINT32_MAX},   {1, 4, 8, UINT32_MAX},    {500, 1, 4, UINT32_MAX},
      {500, 2, 3, UINT32_MAX}, {500, 8, 16, UINT32_MAX}, {500, 3, 6, 77},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.steps << " steps, " << c.threads << " threads, stop at " << c.stopAt);
    Recorder task(c.steps, c.window, c.stopAt);
    const uint32_t workers = run_ordered(task, c.steps, c.threads, c.window, UINT64_MAX);
    EXPECT_EQ(workers, c.threads == 1 ? 0u : c.threads);
    const uint32_t expected = c.stopAt < c.steps ? c.stopAt + 1 : c.steps;
    ASSERT_EQ(task.taken_.size(), expected);
    for (uint32_t i = 0; i < expected; ++i) EXPECT_EQ(task.taken_[i], i);
    EXPECT_LE(task.maxInFlight_.load(), c.threads == 1 ? 1 : c.window);
  }
}

// Steps weighing more than the budget together wait; one heavier than the budget runs alone.
TEST(RunOrdered, TheBudgetBoundsTheWeightInFlight) {
  Recorder task(200, 16, UINT32_MAX);
  for (uint32_t i = 0; i < 200; ++i) task.weights_[i] = i % 10 == 0 ? 50 : 4;
  run_ordered(task, 200, 4, 16, 10);
  ASSERT_EQ(task.taken_.size(), 200u);
  // At most two light steps (4 + 4 of 10), or the heavy one alone.
  EXPECT_LE(task.maxInFlight_.load(), 2u);
}

}  // namespace
