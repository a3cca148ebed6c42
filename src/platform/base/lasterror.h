// GetLastError / SetLastError: one value per thread, as on Windows.
#pragma once

#include "platform/base/types.h"

DWORD GetLastError();
void SetLastError(DWORD error);

namespace platform {
// The Windows error code closest to a POSIX errno value.
DWORD WindowsErrorFromErrno(int err);
}  // namespace platform
