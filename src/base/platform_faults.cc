#include "base/platform_faults.h"

SysFaultHook g_sysFaultHook = nullptr;
