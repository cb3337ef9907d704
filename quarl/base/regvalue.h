// The typed registry reads and writes behind both option stores (the application
// runtime's and the compatibility runtime's), so that they answer alike.
#pragma once

#include <windows.h>

namespace quarl {

// Creates or opens subKey under root with all access. On failure the last error
// is the registry's status and *key is left alone.
BOOL CreateOptionKey(HKEY root, const wchar_t* subKey, HKEY* key);

// Writes return the registry's status; ERROR_INVALID_HANDLE without a key.
LONG WriteDwordValue(HKEY key, const wchar_t* name, DWORD value);
LONG WriteBinaryValue(HKEY key, const wchar_t* name, const void* data, DWORD bytes);

BOOL HasValue(HKEY key, const wchar_t* name);
// The stored number when it is a 4-byte REG_DWORD; the default otherwise.
DWORD ReadDwordValue(HKEY key, const wchar_t* name, DWORD defaultValue);
// The value's bytes, of any type. *bytesRead (when given) is what was read, or 0.
BOOL ReadBinaryValue(HKEY key, const wchar_t* name, void* buffer, DWORD bufferBytes, DWORD* bytesRead);

}  // namespace quarl
