// The one compiled copy of stb_image_write (Debian's libstb-dev), for PNG only, into memory, its
// heap through the allocation hooks.

#include "image/stb_hooks.h"

#define STBIW_MALLOC(size) stb_hooks_malloc(size)
#define STBIW_REALLOC(block, size) stb_hooks_realloc(block, size)
#define STBIW_FREE(block) stb_hooks_free(block)
#define STBI_WRITE_NO_STDIO

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
#pragma GCC diagnostic pop
