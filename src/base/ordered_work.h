#ifndef VINTREL_BASE_ORDERED_WORK_H_
#define VINTREL_BASE_ORDERED_WORK_H_

#include <cstdint>

// A task of numbered steps whose work is spread over worker threads while what comes of it is
// taken on the calling thread in the order of the steps, so that the task's result does not
// depend on how the steps were scheduled. Each step has a slot, step % window, for its results:
// the worker writes it, the taker reads it, never both at once.
class OrderedTask {
 public:
  // What step weighs until it is taken: the memory its results hold, say. Called under the
  // task's lock, on any thread; it must be quick and read only what no thread writes meanwhile.
  virtual uint64_t Weight(uint32_t step) = 0;
  // Does step on a worker's thread; worker (0 to threads - 1) names the worker's own state.
  // No other thread touches that worker's state or the step's slot meanwhile.
  virtual void Work(uint32_t worker, uint32_t step, uint32_t slot) = 0;
  // On the calling thread, as the taker comes to step (the steps before it are taken), whether
  // or not the step is finished yet: a worker still at it may now hand its results on straight.
  virtual void Reached(uint32_t step, uint32_t slot) {
    (void)step;
    (void)slot;
  }
  // Takes the finished step on the calling thread, in the order of steps. False stops the task:
  // the steps after it are dropped, finished or not.
  virtual bool Take(uint32_t step, uint32_t slot) = 0;

 protected:
  ~OrderedTask() = default;
};

// Does steps 0 to steps - 1 of task with `threads` worker threads and takes each on the calling
// thread. At most `window` steps are under way or finished and not yet taken, and together they
// weigh at most `budget`, unless a step is alone (a step heavier than the budget then runs by
// itself): a slow taker stalls the workers, never memory. Returns when every step is taken or
// Take has stopped the task, with every worker ended. With threads 1, or when no thread can be
// started, every step is worked and taken in turn on the calling thread, as worker 0 in slot 0.
// Returns the number of worker threads that ran.
uint32_t run_ordered(OrderedTask& task, uint32_t steps, uint32_t threads, uint32_t window,
                     uint64_t budget);

#endif  // VINTREL_BASE_ORDERED_WORK_H_
