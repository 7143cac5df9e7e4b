#include "base/ordered_work.h"

#include "base/byte_buffer.h"
#include "base/platform.h"

namespace {

// What the workers and the taker share, all of it guarded by lock. changed is woken whenever a
// step is claimed, finished or taken, or the task stops.
struct Shared {
  OrderedTask* task = nullptr;
  uint32_t steps = 0;
  uint32_t window = 0;
  uint64_t budget = 0;
  SysLock lock;
  SysCondition changed;
  uint32_t next = 0;    // the next step to claim; written by the workers
  uint32_t taken = 0;   // the steps taken so far; written by the taker
  uint64_t weight = 0;  // of the steps claimed and not yet taken; written by both
  bool stop = false;    // written by the taker
  TCountedArray<uint8_t>
      done;  // per slot: its step is finished; set by a worker, cleared by the taker
};

struct Worker {
  Shared* shared = nullptr;
  uint32_t index = 0;
  SysThread thread;
};

// Whether the next step may start: its slot is free (the step window places before it has been
// taken) and its weight fits the budget beside the steps in flight, or none is in flight.
bool may_start(Shared& shared) {
  if (shared.next - shared.taken >= shared.window) return false;
  if (shared.next == shared.taken) return true;
  const uint64_t weight = shared.task->Weight(shared.next);
  return weight <= shared.budget && shared.weight <= shared.budget - weight;
}

void work(void* argument) {
  Worker& worker = *static_cast<Worker*>(argument);
  Shared& shared = *worker.shared;
  SysLockHeld held(shared.lock);
  for (;;) {
    while (!shared.stop && shared.next < shared.steps && !may_start(shared)) {
      shared.changed.Wait(shared.lock);
    }
    if (shared.stop || shared.next >= shared.steps) return;
    const uint32_t step = shared.next++;
    shared.weight += shared.task->Weight(step);
    const uint32_t slot = step % shared.window;
    shared.lock.Release();
    shared.task->Work(worker.index, step, slot);
    shared.lock.Acquire();
    shared.done[slot] = 1;
    shared.changed.WakeAll();
  }
}

uint32_t run_inline(OrderedTask& task, uint32_t steps) {
  for (uint32_t step = 0; step < steps; ++step) {
    task.Work(0, step, 0);
    if (!task.Take(step, 0)) break;
  }
  return 0;
}

}  // namespace

uint32_t run_ordered(OrderedTask& task, uint32_t steps, uint32_t threads, uint32_t window,
                     uint64_t budget) {
  if (threads <= 1 || window == 0) return run_inline(task, steps);
  Shared shared;
  shared.task = &task;
  shared.steps = steps;
  shared.window = window;
  shared.budget = budget;
  TCountedArray<Worker> workers;
  if (!shared.done.allocate(window) || !workers.allocate(threads)) return run_inline(task, steps);
  uint32_t started = 0;
  for (uint32_t i = 0; i < threads; ++i) {
    workers[started].shared = &shared;
    workers[started].index = started;
    if (sys_create_thread(&workers[started].thread, work, &workers[started])) ++started;
  }
  if (started == 0) return run_inline(task, steps);

  for (uint32_t step = 0; step < steps; ++step) {
    const uint32_t slot = step % window;
    task.Reached(step, slot);
    {
      SysLockHeld held(shared.lock);
      while (shared.done[slot] == 0) shared.changed.Wait(shared.lock);
    }
    const bool goOn = task.Take(step, slot);
    SysLockHeld held(shared.lock);
    shared.done[slot] = 0;
    shared.taken = step + 1;
    shared.weight -= task.Weight(step);
    shared.stop = !goOn;
    shared.changed.WakeAll();
    if (!goOn) break;
  }
  {
    SysLockHeld held(shared.lock);
    shared.stop = true;
    shared.changed.WakeAll();
  }
  for (uint32_t i = 0; i < started; ++i) sys_join_thread(&workers[i].thread);
  return started;
}
