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
// through the table as well: new of more than 32 bits fails (the throwing forms throw
// std::bad_alloc, the nothrow forms return null), and delete hands its pointer to freeHook.
struct AllocHookTable {
  void (*freeHook)(void* block);
  void* (*allocHook)(uint32_t size);
  void* (*reallocHook)(void* block, uint32_t size);
  uint32_t (*reservedHook)();  // unused by the program; the default returns 0
};

extern AllocHookTable AllocHooks;

// The table as it stands before its first use (the four first-use routines) and after it (the
// defaults). Only tests use these: to compare against, and to put the table back into its
// starting state so that the first-use logic can be exercised in a process that has long since
// used it. The program itself never writes the table.
extern const AllocHookTable kAllocHooksFirstUse;
extern const AllocHookTable kAllocHooksDefaults;

#endif  // VINTREL_BASE_ALLOC_HOOKS_H_
