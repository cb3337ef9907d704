// Stands in for the 64-bit twin in relaunch tests: writes its command line to
// the file named by LK_TWIN_LOG and exits with the code in LK_TWIN_EXIT.
#include <windows.h>

#include <cwchar>

int wmain() {
  wchar_t path[MAX_PATH], code[16] = L"0";
  if (GetEnvironmentVariableW(L"LK_TWIN_LOG", path, MAX_PATH)) {
    HANDLE f = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      const wchar_t* cmd = GetCommandLineW();
      DWORD written;
      WriteFile(f, cmd, DWORD(wcslen(cmd) * sizeof(wchar_t)), &written, nullptr);
      CloseHandle(f);
    }
  }
  GetEnvironmentVariableW(L"LK_TWIN_EXIT", code, 16);
  return int(wcstoul(code, nullptr, 10));
}
