// Test entry point. Also serves as the child-process entry of each test program.
#include <windows.h>

#include <gtest/gtest.h>

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
  // Message boxes from a failing test must not wait for a click that never comes.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
