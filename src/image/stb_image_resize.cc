// The one compiled copy of stb_image_resize (Debian's libstb-dev), its heap through the
// allocation hooks.

#include "image/stb_hooks.h"

#define STBIR_MALLOC(size, context) ((void)(context), stb_hooks_malloc(size))
#define STBIR_FREE(block, context) ((void)(context), stb_hooks_free(block))

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>
#pragma GCC diagnostic pop
