#ifndef VINTREL_BASE_ALLOC_HOOKS_H_
#define VINTREL_BASE_ALLOC_HOOKS_H_

#include <cstdint>

// The process-wide table through which every heap block of the program's own code is taken and
// given back. Callers call the entries directly. The table is constant-initialised with first-use
// routines: the first call through any entry installs the C library's malloc, free and realloc
// (and a routine returning 0 in the fourth entry) and then performs the call it was asked for, so
// no start-up code has to run before the first allocation.
//
// Sizes are 32-bit: a caller that computes a size in size_t checks that it fits first.
// Blocks from allocHook go back only through freeHook. Global operator new and delete pass
// through the table as well.
struct AllocHookTable {
  void (*freeHook)(void* block);
  void* (*allocHook)(uint32_t size);
  void* (*reallocHook)(void* block, uint32_t size);
  uint32_t (*reservedHook)();
};

extern AllocHookTable AllocHooks;

#endif  // VINTREL_BASE_ALLOC_HOOKS_H_
