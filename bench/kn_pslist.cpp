// Prints the live process list as the process snapshot sees it: one line per
// process with its PID, parent PID, thread count and image name.
#include <windows.h>

#include <cstdio>

#include "kinetra/ntprocesslist.h"

int wmain() {
  kinetra::_NTPROCESSLIST list;
  TL_NTPROCESSLIST threads;
  if (!list.UpdateNull() || !threads.Init()) {
    std::printf("snapshot failed: error %lu\n", GetLastError());
    return 1;
  }
  std::printf("%8s %8s %7s  %s\n", "PID", "PPID", "THREADS", "IMAGE");
  for (DWORD i = 0; i < list.GetProcessCount(); ++i) {
    DWORD pid = list.GetItemProcessID(i);
    wchar_t name[MAX_PATH] = L"";
    list.GetProcessImageName(pid, name, MAX_PATH);
    char narrow[MAX_PATH * 3];
    WideCharToMultiByte(CP_UTF8, 0, name, -1, narrow, sizeof narrow, nullptr, nullptr);
    std::printf("%8lu %8lu %7lu  %s\n", pid, list.GetProcessParentPID(pid), threads.GetNTProcessThreadCount(pid),
                narrow);
  }
  std::printf("processes: %lu (%d-bit)\n", list.GetProcessCount(), int(sizeof(void*) * 8));
  return 0;
}
