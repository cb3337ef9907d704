// The compatibility runtime's own option store: one registry key, typed reads
// with a default, writes that return the registry's status code. It behaves as
// the application runtime's store does, but this library links nothing of ours.
#pragma once

#include <windows.h>

#include "dovrak/dovrakapi.h"

class BRVT_API BRVT_REGOPTIONS {
 public:
  BRVT_REGOPTIONS() : key(nullptr) {}

  // Creates or opens subKey under root with all access and keeps it. A key
  // opened before is not closed (copies of this object may still use it).
  BOOL Init(HKEY root, const wchar_t* subKey);
  HKEY GetKey() const { return key; }

  LONG SetOptionBOOL(const wchar_t* name, BOOL value);
  LONG SetOptionDWORD(const wchar_t* name, DWORD value);
  LONG SetOptionBINARY(const wchar_t* name, const void* data, DWORD bytes);

  BOOL IsOptionSet(const wchar_t* name);
  // The stored number when it is a 4-byte REG_DWORD; the default otherwise.
  DWORD GetOptionDWORD(const wchar_t* name, DWORD defaultValue);
  BOOL GetOptionBOOL(const wchar_t* name, BOOL defaultValue);
  // The value's bytes, of any type. On failure *bytesRead is 0.
  BOOL GetOptionBINARY(const wchar_t* name, void* buffer, DWORD bufferBytes, DWORD* bytesRead);

 private:
  HKEY key;
};
