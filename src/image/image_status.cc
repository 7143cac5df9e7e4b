#include "image/image_status.h"

#include <cstdarg>

bool image_fail(Status* status, StatusCode code, const char* format, ...) {
  if (status == nullptr) return false;
  va_list args;
  va_start(args, format);
  status->FailWith(code, format, args);
  va_end(args);
  return false;
}

bool image_out_of_memory(Status* status) {
  if (status != nullptr) status->FailOutOfMemory();
  return false;
}
