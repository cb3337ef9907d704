// The current interface language and the pick rule for compiled-in text pairs.
#pragma once

#include <windows.h>

#include "quarl/quarlapi.h"

namespace quarl {

// 0 means not chosen: the calling thread's locale decides.
QUARL_API DWORD GetCurrentLangID();
// German when the language in force has its low three bits set (primary language 7).
QUARL_API BOOL IsLanguageGerman();
// English text first, German second.
QUARL_API const wchar_t* HardcodeLangString(const wchar_t* english, const wchar_t* german);

}  // namespace quarl
