// Helpers shared by the test programs: child processes (each test program can run
// as its own child in a named role) and the facts of the machine the tests run on.
#pragma once

#include <windows.h>

#include <string>

namespace testutil {

using ChildMain = int (*)(const wchar_t* arg);

// Registers a child role; a test program started with "--lk-child=<role> <arg>"
// runs that function instead of the tests and exits with its result.
struct ChildRole {
  ChildRole(const wchar_t* role, ChildMain fn);
};

// A started child process of this test program. Its destructor ends the child
// (by the handle it started, never by name) if it still runs.
class Child {
 public:
  Child() = default;
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Start(const wchar_t* role, const wchar_t* arg = L"");
  // Starts any command line, optionally in another working folder.
  bool StartCommand(const std::wstring& commandLine, const wchar_t* workingDir = nullptr);
  const std::wstring& CommandLine() const { return cmd_; }
  DWORD Pid() const { return pi_.dwProcessId; }
  HANDLE Handle() const { return pi_.hProcess; }
  // Waits for the end; returns the exit code, or 0xFFFFFFFF on time-out.
  DWORD WaitExit(DWORD timeoutMs);

 private:
  PROCESS_INFORMATION pi_{};
  std::wstring cmd_;
};

// True when this is a 32-bit test running on a machine that executes 32-bit code
// only through an emulator: every new process then costs about a minute, and
// several threads calling into the system at once can crash the emulator, so
// the test suites named *Spawn (they start processes), *Threaded and *RemoteRead
// (cross-process memory reads) are left out.
bool SlowProcessStart();

// A name unique to this test program's bitness, so that the 32- and 64-bit runs
// of the same test can share one Windows session at the same time.
std::wstring BitnessName(const wchar_t* base);

// The file name the build gives a program or library of this test's bitness,
// from its 32-bit name ("Larkon.exe", "quarl86.dll", "kinetra_tests.exe"): the
// 64-bit build turns a trailing "86" into "64" and appends "64" to any other
// name, in lower case. The one place tests learn a file name of their bitness.
std::wstring BuildFileName(const wchar_t* name32);
// The same name with this program's folder in front.
std::wstring BuildFilePath(const wchar_t* name32);

// Path of this program's own file, and the folder it is in (with a backslash).
std::wstring SelfPath();
std::wstring SelfDir();

}  // namespace testutil

namespace testutil {

// Runs a function (typically one that shows a modal dialog) on a thread of its
// own and hands over each new window that thread activates, so a test can read
// the dialog back and dismiss it.
class ModalRun {
 public:
  using Fn = INT_PTR (*)(void* context);
  ModalRun(Fn fn, void* context);
  ~ModalRun();
  ModalRun(const ModalRun&) = delete;
  ModalRun& operator=(const ModalRun&) = delete;

  // The next window the thread activated for the first time; null when none
  // came within the time or the function has returned.
  HWND NextWindow(DWORD timeoutMs = 10000);
  // Waits for the function and returns its result (-1 on time-out).
  INT_PTR Finish(DWORD timeoutMs = 10000);

 private:
  static DWORD WINAPI Thread(LPVOID self);
  static LRESULT CALLBACK Cbt(int code, WPARAM wp, LPARAM lp);

  Fn fn_;
  void* context_;
  HANDLE thread_ = nullptr;
  HANDLE signal_ = nullptr;  // a window was queued, or the function returned
  CRITICAL_SECTION lock_;
  HWND windows_[16] = {};
  int queued_ = 0, taken_ = 0;
  bool done_ = false;
  INT_PTR result_ = -1;
};

}  // namespace testutil
