#include "tests/common/testutil.h"

#include <cstdlib>
#include <map>

#include "quarl/base/strfmt.h"

namespace testutil {

std::map<std::wstring, ChildMain>& Roles() {
  static std::map<std::wstring, ChildMain> roles;
  return roles;
}

ChildRole::ChildRole(const wchar_t* role, ChildMain fn) { Roles()[role] = fn; }

std::wstring SelfPath() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

std::wstring SelfDir() {
  std::wstring p = SelfPath();
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

bool Child::Start(const wchar_t* role, const wchar_t* arg) {
  return StartCommand(L"\"" + SelfPath() + L"\" --lk-child=" + role + L" " + arg);
}

bool Child::StartCommand(const std::wstring& commandLine, const wchar_t* workingDir) {
  cmd_ = commandLine;
  std::wstring buf = commandLine;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  return CreateProcessW(nullptr, buf.data(), nullptr, nullptr, FALSE, 0, nullptr, workingDir, &si, &pi_) != 0;
}

DWORD Child::WaitExit(DWORD timeoutMs) {
  if (!pi_.hProcess || WaitForSingleObject(pi_.hProcess, timeoutMs) != WAIT_OBJECT_0) return 0xFFFFFFFF;
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(pi_.hProcess, &code);
  return code;
}

Child::~Child() {
  if (!pi_.hProcess) return;
  if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
    TerminateProcess(pi_.hProcess, 1);
    WaitForSingleObject(pi_.hProcess, 5000);
  }
  CloseHandle(pi_.hThread);
  CloseHandle(pi_.hProcess);
}

bool SlowProcessStart() {
  if (sizeof(void*) != 4) return false;
  wchar_t v[8];
  return GetEnvironmentVariableW(L"LK_SLOW32", v, 8) > 0 && v[0] == L'1';
}

std::wstring BitnessName(const wchar_t* base) {
  return std::wstring(base) + (sizeof(void*) == 8 ? L"64" : L"32");
}

}  // namespace testutil
