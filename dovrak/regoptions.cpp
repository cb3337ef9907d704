#include "dovrak/regoptions.h"

#include "quarl/base/regvalue.h"

BOOL BRVT_REGOPTIONS::Init(HKEY root, const wchar_t* subKey) { return quarl::CreateOptionKey(root, subKey, &key); }

LONG BRVT_REGOPTIONS::SetOptionDWORD(const wchar_t* name, DWORD value) { return quarl::WriteDwordValue(key, name, value); }

LONG BRVT_REGOPTIONS::SetOptionBOOL(const wchar_t* name, BOOL value) { return SetOptionDWORD(name, DWORD(value)); }

LONG BRVT_REGOPTIONS::SetOptionBINARY(const wchar_t* name, const void* data, DWORD bytes) {
  return quarl::WriteBinaryValue(key, name, data, bytes);
}

BOOL BRVT_REGOPTIONS::IsOptionSet(const wchar_t* name) { return quarl::HasValue(key, name); }

DWORD BRVT_REGOPTIONS::GetOptionDWORD(const wchar_t* name, DWORD defaultValue) {
  return quarl::ReadDwordValue(key, name, defaultValue);
}

BOOL BRVT_REGOPTIONS::GetOptionBOOL(const wchar_t* name, BOOL defaultValue) {
  return BOOL(GetOptionDWORD(name, DWORD(defaultValue)));
}

BOOL BRVT_REGOPTIONS::GetOptionBINARY(const wchar_t* name, void* buffer, DWORD bufferBytes, DWORD* bytesRead) {
  return quarl::ReadBinaryValue(key, name, buffer, bufferBytes, bytesRead);
}
