// The one compiled copy of stb_dxt (Debian's libstb-dev). It takes no heap memory. It calls
// memcpy without including its header.

#include <cstring>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wsign-compare"
#define STB_DXT_IMPLEMENTATION
#include <stb_dxt.h>
#pragma GCC diagnostic pop
