// Fatal errors: shown to the user, then the process ends with exit code 713.
#pragma once

#include <windows.h>

#include "quarl/quarlapi.h"

namespace quarl {

constexpr UINT kExitFatalError = 713;

QUARL_API void ReportFatalError(const wchar_t* message);
// Adds the code address and the error code with its system text to the message.
QUARL_API void ReportFatalError(const wchar_t* message, void* codeAddress, DWORD errorCode);

// Tests replace the dialog and the ending of the process: with a hook set, the
// report calls it with the message, the code address and the error code and returns.
using PFN_FatalErrorHook = void (*)(const wchar_t* text, void* codeAddress, DWORD errorCode);
QUARL_API PFN_FatalErrorHook SetFatalErrorHook(PFN_FatalErrorHook fn);

}  // namespace quarl
