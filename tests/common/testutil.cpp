#include "tests/common/testutil.h"

#include <cstdlib>
#include <cwctype>
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

std::wstring BuildFileName(const wchar_t* name32) {
  std::wstring name(name32);
  if (sizeof(void*) == 4) return name;
  // Mirrors the build's naming rule (cmake/Larkon.cmake, lk_output_name).
  const size_t dot = name.rfind(L'.');
  std::wstring stem = name.substr(0, dot), ext = dot == std::wstring::npos ? L"" : name.substr(dot);
  if (stem.size() >= 2 && stem.compare(stem.size() - 2, 2, L"86") == 0) {
    stem.replace(stem.size() - 2, 2, L"64");
  } else {
    for (wchar_t& c : stem) c = static_cast<wchar_t>(towlower(c));
    stem += L"64";
  }
  return stem + ext;
}

std::wstring BuildFilePath(const wchar_t* name32) { return SelfDir() + BuildFileName(name32); }

}  // namespace testutil

namespace testutil {

namespace {
thread_local ModalRun* t_run;
}  // namespace

ModalRun::ModalRun(Fn fn, void* context) : fn_(fn), context_(context) {
  InitializeCriticalSection(&lock_);
  signal_ = CreateSemaphoreW(nullptr, 0, 64, nullptr);
  thread_ = CreateThread(nullptr, 0, Thread, this, 0, nullptr);
}

ModalRun::~ModalRun() {
  if (Finish() == -1 && !done_) {
    // A test that failed before dismissing its dialog: close what is open.
    EnterCriticalSection(&lock_);
    for (int i = 0; i < queued_; ++i) PostMessageW(windows_[i], WM_COMMAND, IDCANCEL, 0);
    LeaveCriticalSection(&lock_);
    Finish();
  }
  if (thread_) CloseHandle(thread_);
  CloseHandle(signal_);
  DeleteCriticalSection(&lock_);
}

LRESULT CALLBACK ModalRun::Cbt(int code, WPARAM wp, LPARAM lp) {
  ModalRun* self = t_run;
  if (code == HCBT_ACTIVATE && self) {
    HWND w = reinterpret_cast<HWND>(wp);
    EnterCriticalSection(&self->lock_);
    bool seen = false;
    for (int i = 0; i < self->queued_; ++i) seen = seen || self->windows_[i] == w;
    if (!seen && self->queued_ < 16) {
      self->windows_[self->queued_++] = w;
      ReleaseSemaphore(self->signal_, 1, nullptr);
    }
    LeaveCriticalSection(&self->lock_);
  }
  return CallNextHookEx(nullptr, code, wp, lp);
}

DWORD WINAPI ModalRun::Thread(LPVOID p) {
  auto self = static_cast<ModalRun*>(p);
  t_run = self;
  HHOOK hook = SetWindowsHookExW(WH_CBT, Cbt, nullptr, GetCurrentThreadId());
  INT_PTR r = self->fn_(self->context_);
  UnhookWindowsHookEx(hook);
  t_run = nullptr;
  EnterCriticalSection(&self->lock_);
  self->result_ = r;
  self->done_ = true;
  LeaveCriticalSection(&self->lock_);
  ReleaseSemaphore(self->signal_, 1, nullptr);
  return 0;
}

HWND ModalRun::NextWindow(DWORD timeoutMs) {
  for (;;) {
    EnterCriticalSection(&lock_);
    HWND w = taken_ < queued_ ? windows_[taken_++] : nullptr;
    const bool done = done_;
    LeaveCriticalSection(&lock_);
    if (w || done) return w;
    if (WaitForSingleObject(signal_, timeoutMs) != WAIT_OBJECT_0) return nullptr;
  }
}

INT_PTR ModalRun::Finish(DWORD timeoutMs) {
  if (thread_ && WaitForSingleObject(thread_, timeoutMs) != WAIT_OBJECT_0) return -1;
  return result_;
}

}  // namespace testutil
