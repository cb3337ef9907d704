// Typed look-up of an entry point bound at run time; null when the module or the
// entry point is missing.
#pragma once

#include <windows.h>

namespace quarl {

template <class T>
T BindProc(HMODULE module, const char* name) {
  return module ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace quarl
