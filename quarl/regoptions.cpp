#include "quarl/regoptions.h"

QUARL_API REGOPTIONS regOptions;

BOOL REGOPTIONS::Init(HKEY root, const wchar_t* subKey) {
  HKEY k = nullptr;
  LONG rc = RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &k, nullptr);
  if (rc != ERROR_SUCCESS) {
    SetLastError(DWORD(rc));
    return FALSE;
  }
  key = k;
  return TRUE;
}
