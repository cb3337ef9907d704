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

// Path of this program's own file, and the folder it is in (with a backslash).
std::wstring SelfPath();
std::wstring SelfDir();

}  // namespace testutil
