#include "base/alloc_hooks.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

// The C library's malloc and realloc take a size_t; the table's entries take 32 bits, so the
// defaults are thin adapters rather than the library functions themselves.
void DefaultFree(void* block) { std::free(block); }
void* DefaultAlloc(uint32_t size) { return std::malloc(size); }
void* DefaultRealloc(void* block, uint32_t size) { return std::realloc(block, size); }
uint32_t DefaultReserved() { return 0; }

// Every first-use routine writes the same four values, so two callers racing through them end in
// the same table.
void InstallDefaults() {
  AllocHooks.freeHook = DefaultFree;
  AllocHooks.allocHook = DefaultAlloc;
  AllocHooks.reallocHook = DefaultRealloc;
  AllocHooks.reservedHook = DefaultReserved;
}

void FirstUseFree(void* block) {
  InstallDefaults();
  DefaultFree(block);
}

void* FirstUseAlloc(uint32_t size) {
  InstallDefaults();
  return DefaultAlloc(size);
}

void* FirstUseRealloc(void* block, uint32_t size) {
  InstallDefaults();
  return DefaultRealloc(block, size);
}

uint32_t FirstUseReserved() {
  InstallDefaults();
  return DefaultReserved();
}

// Global operator new runs before main (static objects of the C++ library and of the tests), so
// the table must be usable without any constructor having run: it is constant-initialised.
// Written so that the 32-bit build, where every size fits, compiles it without a warning.
bool FitsIn32Bits(std::size_t size) { return (static_cast<uint64_t>(size) >> 32) == 0; }

void* AllocateForNew(std::size_t size) {
  if (!FitsIn32Bits(size)) return nullptr;
  // operator new must return a distinct block even for 0 bytes; malloc(0) may return null.
  if (size == 0) size = 1;
  return AllocHooks.allocHook(static_cast<uint32_t>(size));
}

}  // namespace

AllocHookTable AllocHooks = {FirstUseFree, FirstUseAlloc, FirstUseRealloc, FirstUseReserved};

const AllocHookTable kAllocHooksFirstUse = {FirstUseFree, FirstUseAlloc, FirstUseRealloc,
                                            FirstUseReserved};
const AllocHookTable kAllocHooksDefaults = {DefaultFree, DefaultAlloc, DefaultRealloc,
                                            DefaultReserved};

void* operator new(std::size_t size) {
  void* block = AllocateForNew(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* operator new[](std::size_t size) {
  void* block = AllocateForNew(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateForNew(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateForNew(size);
}

void operator delete(void* block) noexcept { AllocHooks.freeHook(block); }
void operator delete[](void* block) noexcept { AllocHooks.freeHook(block); }
void operator delete(void* block, std::size_t) noexcept { AllocHooks.freeHook(block); }
void operator delete[](void* block, std::size_t) noexcept { AllocHooks.freeHook(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { AllocHooks.freeHook(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { AllocHooks.freeHook(block); }
