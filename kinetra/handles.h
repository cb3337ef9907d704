// Small handle helpers shared inside the library.
#pragma once

#include <windows.h>

namespace kinetra {

// Closes a handle and leaves the last error as it was, so that the reason of a
// failure survives the clean-up that follows it.
inline void CloseKeepingError(HANDLE h) {
  DWORD err = GetLastError();
  CloseHandle(h);
  SetLastError(err);
}

}  // namespace kinetra
