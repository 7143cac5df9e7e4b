// The one compiled copy of stb_image (Debian's libstb-dev), for PNG only: no file access (the
// floor reads the bytes itself), its heap through the allocation hooks, and no image larger than
// the floor's limit a side (png_codec.cc checks that before stb_image sees the file).

#include "image/rgba_image.h"
#include "image/stb_hooks.h"

#define STBI_MALLOC(size) stb_hooks_malloc(size)
#define STBI_REALLOC(block, size) stb_hooks_realloc(block, size)
#define STBI_FREE(block) stb_hooks_free(block)
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_MAX_DIMENSIONS kImageMaxSide

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>
#pragma GCC diagnostic pop
