// Library-wide resources of the process information library.
#pragma once

#include <windows.h>

#include "kinetra/kinetraapi.h"

namespace kinetra {

// The shell's icon for ".exe" files (large or small), asked for once on first use:
// the fallback icon of processes whose image gives none. Owned by the library.
KINETRA_API HICON GetGenericProgramIcon(BOOL large);

KINETRA_API HINSTANCE GetKinetraInstance();

}  // namespace kinetra
