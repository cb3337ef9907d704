#include "kinetra/procmem.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quarl/base/strfmt.h"
#include "tests/common/testutil.h"

namespace {

std::wstring WindowsDir() {
  wchar_t w[MAX_PATH];
  GetWindowsDirectoryW(w, MAX_PATH);
  return w;
}

TEST(ProcessMemory, NormalisedImagePaths) {
  struct Case {
    const wchar_t* in;
    std::wstring want;
  } cases[] = {
      {L"\\??\\C:\\Tools\\probe.exe", L"C:\\Tools\\probe.exe"},
      {L"\\SystemRoot\\System32\\smss.exe", WindowsDir() + L"\\System32\\smss.exe"},
      {L"\\systemroot\\System32\\csrss.exe", WindowsDir() + L"\\System32\\csrss.exe"},
      {L"c:\\tools\\probe.exe", L"C:\\tools\\probe.exe"},
      // Entirely upper case: the shell's tidying lower-cases all but the first.
      {L"C:\\WINDOWS\\NOTEPAD.EXE", L"C:\\windows\\notepad.exe"},
      {L"\\??\\d:\\Mixed\\Case.exe", L"D:\\Mixed\\Case.exe"},
      {L"C:\\Program Files\\App\\app.exe", L"C:\\Program Files\\App\\app.exe"},
      {L"", L""},
  };
  for (const Case& c : cases) {
    wchar_t path[MAX_PATH];
    quarl::CopyW(path, MAX_PATH, c.in);
    kinetra::NormalizeImagePath(path, MAX_PATH);
    EXPECT_EQ(c.want, std::wstring(path)) << c.in;
  }
}

// The readers pointed at this very process exercise the parameter offsets of the
// build's own bitness without starting anything. The memory is still read the way
// another process's is.
TEST(ProcessMemoryRemoteRead, ReadsThisProcess) {
  DWORD self = GetCurrentProcessId();
  wchar_t buf[2048];
  ASSERT_TRUE(PDM_GetProcessCmdLine(self, buf, sizeof buf)) << GetLastError();
  EXPECT_STREQ(GetCommandLineW(), buf);

  std::wstring image = testutil::SelfPath();
  for (auto reader : {PDM_GetProcessPath, PDM_GetProcessPathLimited, PDM_GetProcessPathVMRead,
                      PDM_GetProcessPathByModule}) {
    quarl::CopyW(buf, 2048, L"");
    EXPECT_TRUE(reader(self, buf, sizeof buf));
    EXPECT_EQ(0, _wcsicmp(image.c_str(), buf)) << std::wstring(buf);
  }
  // Cut to the capacity in bytes, terminated.
  ASSERT_TRUE(PDM_GetProcessCmdLine(self, buf, 10 * sizeof(wchar_t)));
  EXPECT_EQ(std::wstring(GetCommandLineW()).substr(0, 9), buf);

  MODULEENTRY32W m;
  ASSERT_TRUE(PDM_GetProcessModule(self, 0, &m));
  EXPECT_EQ(0, _wcsicmp(image.c_str(), m.szExePath));
  EXPECT_FALSE(PDM_GetProcessModule(self, 100000, &m));
}

TEST(ProcessMemoryRemoteRead, EnvironmentTwoCallProtocol) {
  DWORD self = GetCurrentProcessId();
  DWORD size = 0;
  ASSERT_TRUE(PDM_GetProcessEnvironmentBlock(self, nullptr, &size));
  ASSERT_GT(size, 0u);
  EXPECT_LE(size, 8192u);
  std::vector<BYTE> block(size + 64, 0xEE);
  DWORD small = size - 2;
  EXPECT_FALSE(PDM_GetProcessEnvironmentBlock(self, block.data(), &small));
  DWORD big = DWORD(block.size());
  ASSERT_TRUE(PDM_GetProcessEnvironmentBlock(self, block.data(), &big));
  EXPECT_EQ(0, block.back());  // cleared to the caller's size
  // The block read is this process's own environment.
  const wchar_t* mine = GetEnvironmentStringsW();
  const wchar_t* read = reinterpret_cast<const wchar_t*>(block.data());
  EXPECT_STREQ(mine, read);
  FreeEnvironmentStringsW(const_cast<wchar_t*>(mine));
  EXPECT_FALSE(PDM_GetProcessEnvironmentBlock(self, nullptr, nullptr));
}

TEST(ProcessMemory, UnknownProcessGivesNothing) {
  // PIDs are multiples of four; this one is never handed out.
  const DWORD none = 0xFFFFFFF1;
  wchar_t buf[64] = L"";
  DWORD size = 0;
  MODULEENTRY32W m;
  EXPECT_FALSE(PDM_GetProcessPath(none, buf, sizeof buf));
  EXPECT_STREQ(L"", buf);
  EXPECT_FALSE(PDM_GetProcessCmdLine(none, buf, sizeof buf));
  EXPECT_FALSE(PDM_GetProcessEnvironmentBlock(none, nullptr, &size));
  EXPECT_FALSE(PDM_GetProcessModule(none, 0, &m));
  EXPECT_FALSE(PDM_GetProcessCmdLine(GetCurrentProcessId(), buf, 1));  // no room for anything
}

// A child that signals the named event once it runs, then waits to be ended.
int Waiter(const wchar_t* eventName) {
  HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName);
  if (!e) return 3;
  SetEvent(e);
  Sleep(INFINITE);
  return 0;
}
testutil::ChildRole waiterRole(L"wait", Waiter);

// Starts program (this test program when empty) as a waiting child and waits
// until it runs.
bool StartWaiter(testutil::Child& child, const std::wstring& program) {
  std::wstring name = testutil::BitnessName(L"lk-procmem-ready");
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  bool ok = program.empty() ? child.Start(L"wait", name.c_str())
                            : child.StartCommand(L"\"" + program + L"\" --lk-child=wait " + name);
  HANDLE both[2] = {ready, child.Handle()};
  ok = ok && WaitForMultipleObjects(2, both, FALSE, 300000) == WAIT_OBJECT_0;
  CloseHandle(ready);
  return ok;
}

TEST(ProcessMemorySpawn, ChildCommandLinePathAndCutEnvironment) {
  // An environment larger than the cut, inherited by the child.
  std::wstring big(12000, L'x');
  ASSERT_TRUE(SetEnvironmentVariableW(L"LK_BIG", big.c_str()));
  const wchar_t* parentBlock = GetEnvironmentStringsW();
  testutil::Child child;
  bool started = StartWaiter(child, L"");
  SetEnvironmentVariableW(L"LK_BIG", nullptr);
  ASSERT_TRUE(started);

  wchar_t buf[2048];
  ASSERT_TRUE(PDM_GetProcessCmdLine(child.Pid(), buf, sizeof buf));
  EXPECT_EQ(child.CommandLine(), buf);
  ASSERT_TRUE(PDM_GetProcessPath(child.Pid(), buf, sizeof buf));
  EXPECT_EQ(0, _wcsicmp(testutil::SelfPath().c_str(), buf)) << std::wstring(buf);
  ASSERT_TRUE(PDM_GetProcessPathVMRead(child.Pid(), buf, sizeof buf));
  EXPECT_EQ(0, _wcsicmp(testutil::SelfPath().c_str(), buf)) << std::wstring(buf);

  DWORD size = 0;
  ASSERT_TRUE(PDM_GetProcessEnvironmentBlock(child.Pid(), nullptr, &size));
  EXPECT_EQ(8192u, size);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(PDM_GetProcessEnvironmentBlock(child.Pid(), block.data(), &size));
  // The child's block starts as its parent's did.
  const wchar_t* read = reinterpret_cast<const wchar_t*>(block.data());
  EXPECT_STREQ(parentBlock, read);
  FreeEnvironmentStringsW(const_cast<wchar_t*>(parentBlock));
}

#ifdef _WIN64
TEST(ProcessMemorySpawn, SixtyFourBitReaderReadsAThirtyTwoBitTarget) {
  // The 32-bit build of this test program lies beside this one.
  std::wstring program = testutil::SelfDir() + L"kinetra_tests.exe";
  ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(program.c_str()));
  testutil::Child child;
  ASSERT_TRUE(StartWaiter(child, program));
  BOOL wow = FALSE;
  ASSERT_TRUE(IsWow64Process(child.Handle(), &wow));
  ASSERT_TRUE(wow);
  wchar_t buf[2048];
  // The image path does not depend on the target's layout.
  ASSERT_TRUE(PDM_GetProcessPath(child.Pid(), buf, sizeof buf));
  EXPECT_EQ(0, _wcsicmp(program.c_str(), buf)) << std::wstring(buf);
  // Where the system names the target's 32-bit block (Windows does, Wine gives
  // only a flag) its parameters are read; otherwise the reader says it cannot,
  // and never reads the target through the wrong layout.
  quarl::CopyW(buf, 2048, L"");
  if (PDM_GetProcessCmdLine(child.Pid(), buf, sizeof buf)) {
    EXPECT_EQ(child.CommandLine(), buf);
    ASSERT_TRUE(PDM_GetProcessPathVMRead(child.Pid(), buf, sizeof buf));
    EXPECT_EQ(0, _wcsicmp(program.c_str(), buf)) << std::wstring(buf);
    DWORD size = 0;
    EXPECT_TRUE(PDM_GetProcessEnvironmentBlock(child.Pid(), nullptr, &size));
    EXPECT_GT(size, 0u);
  } else {
    EXPECT_EQ(DWORD(ERROR_NOT_SUPPORTED), GetLastError());
    EXPECT_STREQ(L"", buf);
    DWORD size = 0;
    EXPECT_FALSE(PDM_GetProcessEnvironmentBlock(child.Pid(), nullptr, &size));
    EXPECT_FALSE(PDM_GetProcessPathVMRead(child.Pid(), buf, sizeof buf));
  }
}
#endif

}  // namespace
