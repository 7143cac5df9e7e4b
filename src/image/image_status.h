#ifndef VINTREL_IMAGE_IMAGE_STATUS_H_
#define VINTREL_IMAGE_IMAGE_STATUS_H_

// How the image floor records a failure: in *status when the caller gave one. Every function of
// the floor that can fail takes a Status* that may be null.

#include "base/status.h"

// Records the failure in *status (when not null) and returns false, for a caller's
// "return image_fail(status, ...);".
bool image_fail(Status* status, StatusCode code, const char* format, ...)
    VINTREL_PRINTF_FORMAT(3, 4);

// The same for a heap that could not give what was asked.
bool image_out_of_memory(Status* status);

#endif  // VINTREL_IMAGE_IMAGE_STATUS_H_
