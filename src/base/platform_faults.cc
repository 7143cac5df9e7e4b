#include "base/platform_faults.h"

SysFaultHook g_sysFaultHook = nullptr;
SysRecordHook g_sysRecordHook = nullptr;

void sys_record(SysChange change, FileHandle file, const char* path, const char* target,
                uint64_t offset, const void* bytes, uint32_t count, bool truncated) {
  if (g_sysRecordHook == nullptr) return;
  SysChangeEvent event;
  event.change = change;
  event.file = file;
  event.path = path;
  event.target = target;
  event.offset = offset;
  event.bytes = bytes;
  event.count = count;
  event.truncated = truncated;
  g_sysRecordHook(event);
}
