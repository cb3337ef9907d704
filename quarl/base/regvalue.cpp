#include "quarl/base/regvalue.h"

namespace quarl {

BOOL CreateOptionKey(HKEY root, const wchar_t* subKey, HKEY* key) {
  HKEY k = nullptr;
  LONG rc = RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &k, nullptr);
  if (rc != ERROR_SUCCESS) {
    SetLastError(DWORD(rc));
    return FALSE;
  }
  *key = k;
  return TRUE;
}

LONG WriteDwordValue(HKEY key, const wchar_t* name, DWORD value) {
  if (!key) return ERROR_INVALID_HANDLE;
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG WriteBinaryValue(HKEY key, const wchar_t* name, const void* data, DWORD bytes) {
  if (!key) return ERROR_INVALID_HANDLE;
  return RegSetValueExW(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), bytes);
}

BOOL HasValue(HKEY key, const wchar_t* name) {
  return key && RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD ReadDwordValue(HKEY key, const wchar_t* name, DWORD defaultValue) {
  if (!key) return defaultValue;
  // Read into a larger buffer, so a longer value of the right type is seen as
  // the wrong size instead of being cut to four bytes.
  BYTE data[8];
  DWORD type = 0, size = sizeof data;
  if (RegQueryValueExW(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS || type != REG_DWORD ||
      size != sizeof(DWORD))
    return defaultValue;
  DWORD v;
  CopyMemory(&v, data, sizeof v);
  return v;
}

BOOL ReadBinaryValue(HKEY key, const wchar_t* name, void* buffer, DWORD bufferBytes, DWORD* bytesRead) {
  DWORD size = bufferBytes;
  bool ok = key && buffer &&
            RegQueryValueExW(key, name, nullptr, nullptr, static_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
  if (bytesRead) *bytesRead = ok ? size : 0;
  return ok;
}

}  // namespace quarl
