#include "image/stb_hooks.h"

#include <cstdint>

#include "base/alloc_hooks.h"

void* stb_hooks_malloc(size_t size) {
  if (size > UINT32_MAX) return nullptr;
  return AllocHooks.allocHook(static_cast<uint32_t>(size));
}

void* stb_hooks_realloc(void* block, size_t size) {
  if (size > UINT32_MAX) return nullptr;
  return AllocHooks.reallocHook(block, static_cast<uint32_t>(size));
}

void stb_hooks_free(void* block) { AllocHooks.freeHook(block); }
