// The registry option store of a program: one open key under which its settings
// live, with typed reads that fall back to a default and writes that return the
// registry's status code.
#pragma once

#include <windows.h>

#include "quarl/quarlapi.h"

class QUARL_API REGOPTIONS {
 public:
  REGOPTIONS() : key(nullptr) {}

  // Creates or opens subKey under root with all access and keeps it. A key opened
  // before is not closed (copies of this object may still use it).
  BOOL Init(HKEY root, const wchar_t* subKey);
  HKEY GetKey() const { return key; }

  // Each returns the registry status code (ERROR_SUCCESS on success).
  LONG SetOptionBOOL(const wchar_t* name, BOOL value);
  LONG SetOptionDWORD(const wchar_t* name, DWORD value);
  LONG SetOptionBINARY(const wchar_t* name, const void* data, DWORD bytes);

  BOOL IsOptionSet(const wchar_t* name);
  // The stored number when it is a 4-byte REG_DWORD; the default otherwise.
  DWORD GetOptionDWORD(const wchar_t* name, DWORD defaultValue);
  BOOL GetOptionBOOL(const wchar_t* name, BOOL defaultValue);
  // Reads the value's bytes, of any type. On failure (missing, or larger than
  // the buffer) *bytesRead is 0 and the buffer's content is undefined.
  BOOL GetOptionBINARY(const wchar_t* name, void* buffer, DWORD bufferBytes, DWORD* bytesRead);

 private:
  HKEY key;
};

extern QUARL_API REGOPTIONS regOptions;

namespace quarl {

// Writes the window's placement record (44 bytes) as a binary value of that name
// in the option key; returns the registry status code.
QUARL_API LONG SaveWindowPlacement(HWND window, const wchar_t* valueName);
// Restores a placement stored by SaveWindowPlacement. Unless keepShowState is set,
// a window stored minimised or hidden comes back shown (maximised stays). With
// applyWhole the whole placement is set; otherwise only the stored position is
// applied, keeping size, z-order and show state. FALSE when no 44-byte value was
// stored; otherwise the result of the positioning call.
QUARL_API BOOL RestoreWindowPlacement(HWND window, const wchar_t* valueName, BOOL applyWhole, BOOL keepShowState);

}  // namespace quarl
