#ifndef VINTREL_IMAGE_STB_HOOKS_H_
#define VINTREL_IMAGE_STB_HOOKS_H_

// The heap functions the stb libraries are built with (STBI_MALLOC and the like): the allocation
// hooks, with each size checked to fit their 32 bits first (a larger request fails as the heap
// would).

#include <cstddef>

void* stb_hooks_malloc(size_t size);
void* stb_hooks_realloc(void* block, size_t size);
void stb_hooks_free(void* block);

#endif  // VINTREL_IMAGE_STB_HOOKS_H_
