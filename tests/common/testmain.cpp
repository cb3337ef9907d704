// Test entry point. Also serves as the child-process entry of each test program.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "tests/common/testutil.h"

namespace testutil {
std::map<std::wstring, ChildMain>& Roles();
}

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && wcsncmp(argv[1], L"--lk-child=", 11) == 0) {
    auto it = testutil::Roles().find(argv[1] + 11);
    if (it == testutil::Roles().end()) return 250;
    return it->second(argc >= 3 ? argv[2] : L"");
  }
  // Unbuffered, so that what a crashing test printed is not lost with it.
  setvbuf(stdout, nullptr, _IONBF, 0);
  // Message boxes from a failing test must not wait for a click that never comes.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  testing::InitGoogleTest(&argc, argv);
  if (testutil::SlowProcessStart()) {
    // Suites named *Spawn start further processes, which take about a minute
    // each here; suites named *Threaded hammer one call from several threads,
    // which the emulator does not survive; suites named *RemoteRead read process
    // memory through the server, which sees the emulator's host addresses, not
    // the emulated ones. They are left out, not skipped.
    const char* left = "*Spawn.*:*Threaded.*:*RemoteRead.*";
    std::string filter = GTEST_FLAG_GET(filter);
    filter += filter.find('-') == std::string::npos ? "-" : ":";
    filter += left;
    GTEST_FLAG_SET(filter, filter);
    std::printf("32-bit code is emulated here: the *Spawn, *Threaded and *RemoteRead suites are left out\n");
  }
  return RUN_ALL_TESTS();
}
