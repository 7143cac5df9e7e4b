#include "base/platform_faults.h"

SysFaultHook g_sysFaultHook = nullptr;
SysRecordHook g_sysRecordHook = nullptr;
