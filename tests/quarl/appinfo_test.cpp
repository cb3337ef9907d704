#include <winsock2.h>
#include <windows.h>

#include "quarl/appinfo.h"

#include <gtest/gtest.h>

#include <string>

#include "quarl/fatalerror.h"
#include "quarl/regoptions.h"
#include "tests/common/testutil.h"

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Each case sets the identity it needs; this restores a known one for the rest.
void SetIdentity(const wchar_t* code) {
  quarl::SetAppInfo(L"Quenby Test Suite", L"TestSuite", L"1.0", 1000, code);
}

TEST(Identity, FullVersionString) {
  struct Case {
    const char* date;
    int build;
    const wchar_t* code;
    const wchar_t* version;
    int number;
    const wchar_t* want;
  } cases[] = {
      {"Nov 12 2008", 0, L"heapgauge", L"2.1", 2011, L"Version 2.1 (heapgauge_ARCH.2011:081112_0)"},
      {"Nov 12 2008", 8548, L"larkon", L"5.1", 5101, L"Version 5.1 (larkon_ARCH.5101:081112_8548)"},
      // Unknown month text, lower case too (the comparison is exact).
      {"Xyz  1 2008", 1, L"c", L"1", 1, L"Version 1 (c_ARCH.1:080001_1)"},
      {"nov 12 2008", 1, L"c", L"1", 1, L"Version 1 (c_ARCH.1:080012_1)"},
      // Only the low four bits of the year are printed.
      {"Jan  5 2016", 2, L"c", L"1", 1, L"Version 1 (c_ARCH.1:000105_2)"},
      {"Dec 31 2026", 3, L"c", L"1", 1, L"Version 1 (c_ARCH.1:101231_3)"},
  };
  for (const Case& c : cases) {
    quarl::SetAppInfo(L"full", L"name", c.version, c.number, c.code);
    quarl::SetBuildInfo(c.date, "12:34:56", c.build);
    std::wstring want = c.want;
    want.replace(want.find(L"ARCH"), 4, quarl::GetArchitectureText());
    EXPECT_EQ(want, quarl::GetFullVersionStr()) << c.date;
    EXPECT_STREQ(L"12:34:56", quarl::wcBuildTime);
  }
  EXPECT_STREQ(sizeof(void*) == 8 ? L"x64" : L"x86", quarl::GetArchitectureText());
}

TEST(Identity, SettersCutOverlongTextAndSayFalse) {
  std::wstring code64(64, L'c');
  EXPECT_FALSE(quarl::SetAppCode(code64.c_str()));
  EXPECT_EQ(std::wstring(63, L'c'), quarl::GetAppCode());
  EXPECT_TRUE(quarl::SetAppCode(std::wstring(63, L'd').c_str()));
  EXPECT_EQ(std::wstring(63, L'd'), quarl::GetAppCode());

  std::wstring name300(300, L'n');
  EXPECT_FALSE(quarl::SetAppName(name300.c_str()));
  EXPECT_EQ(255u, wcslen(quarl::GetAppName()));
  EXPECT_FALSE(quarl::SetAppVersion(code64.c_str()));
  // SetAppInfo reports success even when it had to cut.
  EXPECT_TRUE(quarl::SetAppInfo(name300.c_str(), L"n", L"v", 7, code64.c_str()));
  EXPECT_EQ(255u, wcslen(quarl::GetAppNameFull()));
  EXPECT_EQ(63u, wcslen(quarl::GetAppCode()));
  EXPECT_EQ(7, quarl::GetAppVersionInt());
  SetIdentity(L"lktest");
}

// ---- instance mutexes ---------------------------------------------------------

// The second copy of the protocol: sees the first, posts its open request and
// holds it for one second so the first copy's timer can see it.
int SecondCopy(const wchar_t* code) {
  SetIdentity(code);
  quarl::PostInit();
  if (!quarl::IsPreviousCopyRunning()) return 1;
  HANDLE open = quarl::CreateOpenMutex();
  if (!open) return 2;
  Sleep(1000);
  return 183;
}
testutil::ChildRole secondCopyRole(L"second-copy", SecondCopy);

TEST(InstanceMutexSpawn, SecondCopyAnnouncesItselfAndGivesWay) {
  const std::wstring code = testutil::BitnessName(L"lkmutex");
  SetIdentity(code.c_str());
  ASSERT_TRUE(quarl::PostInit());
  ASSERT_NE(nullptr, quarl::hAppMutex);
  EXPECT_FALSE(quarl::IsPreviousCopyRunning());
  EXPECT_FALSE(quarl::IsOpenMutexPresent());
  EXPECT_FALSE(quarl::IsExitMutexPresent());

  testutil::Child second;
  DWORD start = GetTickCount();
  ASSERT_TRUE(second.Start(L"second-copy", code.c_str()));
  // The first copy polls, as its timer would; the request must become visible.
  bool seen = false;
  while (!seen && GetTickCount() - start < 180000) {
    seen = quarl::IsOpenMutexPresent();
    if (!seen) Sleep(20);
  }
  EXPECT_TRUE(seen);
  EXPECT_EQ(183u, second.WaitExit(180000));
  EXPECT_GE(GetTickCount() - start, 900u);
  // Gone with the second copy, and the presence tests left nothing behind.
  EXPECT_FALSE(quarl::IsOpenMutexPresent());

  HANDLE exitReq = quarl::CreateExitMutex();
  ASSERT_NE(nullptr, exitReq);
  EXPECT_TRUE(quarl::IsExitMutexPresent());
  CloseHandle(exitReq);
  EXPECT_FALSE(quarl::IsExitMutexPresent());
  EXPECT_TRUE(quarl::DeleteAppMutex());
  SetIdentity(L"lktest");
}

TEST(InstanceMutex, SameProcessSecondCreateSeesItself) {
  SetIdentity(testutil::BitnessName(L"lkself").c_str());
  ASSERT_TRUE(quarl::CreateAppMutex());
  HANDLE first = quarl::hAppMutex;
  EXPECT_FALSE(quarl::IsPreviousCopyRunning());
  ASSERT_TRUE(quarl::CreateAppMutex());
  EXPECT_TRUE(quarl::IsPreviousCopyRunning());
  CloseHandle(first);
  quarl::DeleteAppMutex();
  SetIdentity(L"lktest");
}

HINSTANCE WINAPI RefusingShell(HWND, LPCWSTR verb, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
  return reinterpret_cast<HINSTANCE>(INT_PTR(lstrcmpW(verb, L"runas") == 0 ? 5 : 42));
}
HINSTANCE WINAPI AcceptingShell(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
  return reinterpret_cast<HINSTANCE>(INT_PTR(42));
}

TEST(InstanceMutex, RefusedElevationRecreatesTheMutexes) {
  SetIdentity(testutil::BitnessName(L"lkelev").c_str());
  ASSERT_TRUE(quarl::CreateAppMutex());
  quarl::SetShellExecuteHook(RefusingShell);
  EXPECT_FALSE(quarl::LaunchElevatedInstance());
  EXPECT_NE(nullptr, quarl::hAppMutex);
  EXPECT_FALSE(quarl::IsPreviousCopyRunning());  // the old handle was closed first

  quarl::SetShellExecuteHook(AcceptingShell);
  EXPECT_TRUE(quarl::LaunchElevatedInstance());
  EXPECT_EQ(nullptr, quarl::hAppMutex);  // the new instance must not see a copy
  quarl::SetShellExecuteHook(nullptr);
  SetIdentity(L"lktest");
}

// ---- autostart ----------------------------------------------------------------

class Autostart : public testing::Test {
 protected:
  void SetUp() override {
    name_ = testutil::BitnessName(L"LarkonAutostartTest");
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &run_, nullptr));
    RegDeleteValueW(run_, name_.c_str());
  }
  void TearDown() override {
    RegDeleteValueW(run_, name_.c_str());
    RegCloseKey(run_);
  }
  void Store(DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(run_, name_.c_str(), 0, type, static_cast<const BYTE*>(data), bytes));
  }
  std::wstring name_;
  HKEY run_ = nullptr;
};

TEST_F(Autostart, RoundTripStoresTerminatedString) {
  EXPECT_FALSE(quarl::GetAutostartEntry(name_.c_str()));
  ASSERT_TRUE(quarl::SetAutostartEntry(name_.c_str(), TRUE));
  EXPECT_TRUE(quarl::GetAutostartEntry(name_.c_str()));

  wchar_t stored[1100] = {};
  DWORD type = 0, cb = sizeof stored;
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(run_, name_.c_str(), nullptr, &type,
                                            reinterpret_cast<BYTE*>(stored), &cb));
  EXPECT_EQ(DWORD(REG_SZ), type);
  EXPECT_EQ((wcslen(stored) + 1) * sizeof(wchar_t), cb);  // terminator included
  std::wstring want = L"\"" + testutil::SelfPath() + L"\" /autostart";
  EXPECT_EQ(want, stored);

  ASSERT_TRUE(quarl::SetAutostartEntry(name_.c_str(), FALSE));
  EXPECT_FALSE(quarl::GetAutostartEntry(name_.c_str()));
  EXPECT_TRUE(quarl::SetAutostartEntry(name_.c_str(), FALSE));  // already off
}

TEST_F(Autostart, OnlyThisProgramFileCountsAsSet) {
  std::wstring self = L"\"" + testutil::SelfPath() + L"\" /autostart";
  struct Case {
    std::wstring text;
    bool set;
  } cases[] = {
      {self, true},
      {std::wstring(CharUpperW(std::wstring(self).data())), true},  // case is ignored
      {L"\"C:\\Other\\Copy\\larkon_tests.exe\" /autostart", false},  // another copy
      {L"\"" + testutil::SelfPath() + L"\"", false},
      {self + L" extra", false},
  };
  for (const Case& c : cases) {
    Store(REG_SZ, c.text.c_str(), DWORD((c.text.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(c.set, bool(quarl::GetAutostartEntry(name_.c_str()))) << c.text.c_str();
  }
}

TEST_F(Autostart, UnterminatedOrForeignTypedValuesAreReadSafely) {
  std::wstring self = L"\"" + testutil::SelfPath() + L"\" /autostart";
  // The right text without its terminator, as binary data: still compared whole.
  Store(REG_BINARY, self.c_str(), DWORD(self.size() * sizeof(wchar_t)));
  EXPECT_TRUE(quarl::GetAutostartEntry(name_.c_str()));
  // A value that fills the whole buffer with no terminator anywhere.
  std::wstring big(1024, L'A');
  Store(REG_BINARY, big.c_str(), DWORD(big.size() * sizeof(wchar_t)));
  EXPECT_FALSE(quarl::GetAutostartEntry(name_.c_str()));
  std::wstring huge(5000, L'B');
  Store(REG_SZ, huge.c_str(), DWORD((huge.size() + 1) * sizeof(wchar_t)));
  EXPECT_FALSE(quarl::GetAutostartEntry(name_.c_str()));
  DWORD number = 1;
  Store(REG_DWORD, &number, sizeof number);
  EXPECT_FALSE(quarl::GetAutostartEntry(name_.c_str()));
}

// ---- system helpers --------------------------------------------------------------

void* g_fatalAddress;
DWORD g_fatalCode;
std::wstring g_fatalText;
void CaptureFatal(const wchar_t* text, void* address, DWORD code) {
  g_fatalText = text;
  g_fatalAddress = address;
  g_fatalCode = code;
}

// No sibling calls: the runtime must see this function as its caller.
__attribute__((noinline, optimize("no-optimize-sibling-calls"))) void CallVerify(bool oldName) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  if (oldName)
    quarl::VerifyCritialAlloc(nullptr);
  else
    quarl::VerifyCriticalAlloc(nullptr);
}

HMODULE ModuleOf(const void* address) {
  HMODULE m = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     static_cast<LPCWSTR>(address), &m);
  return m;
}

TEST(SystemHelpers, CriticalAllocReportsItsRealCallerUnderBothNames) {
  quarl::SetFatalErrorHook(CaptureFatal);
  EXPECT_TRUE(quarl::VerifyCriticalAlloc(&g_fatalCode));
  EXPECT_TRUE(g_fatalText.empty());
  for (bool oldName : {false, true}) {
    g_fatalAddress = nullptr;
    g_fatalText.clear();
    CallVerify(oldName);
    // The address lies in the calling function, not in a forwarder in the runtime.
    auto caller = reinterpret_cast<const char*>(&CallVerify);
    auto got = static_cast<const char*>(g_fatalAddress);
    EXPECT_EQ(GetModuleHandleW(nullptr), ModuleOf(got)) << oldName;
    EXPECT_GT(got, caller) << oldName;
    EXPECT_LT(got, caller + 200) << oldName;
    EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_MEMORY), g_fatalCode);
    EXPECT_NE(std::wstring::npos, g_fatalText.find(L"not enough memory")) << g_fatalText.c_str();
  }
  quarl::SetFatalErrorHook(nullptr);
}

__attribute__((noinline, optimize("no-optimize-sibling-calls"))) void* CallEip() {
  return quarl::GetCurrentEIP();
}

TEST(SystemHelpers, CurrentEipIsTheCallersPosition) {
  auto caller = reinterpret_cast<const char*>(&CallEip);
  auto got = static_cast<const char*>(CallEip());
  EXPECT_GT(got, caller);
  EXPECT_LT(got, caller + 64);
}

TEST(SystemHelpers, ReplaceNonPrintableChars) {
  char withLength[] = {'a', 0, 'b', 7, 8, 9, 13, 'c', 0, 'z'};
  EXPECT_TRUE(quarl::ReplaceNonPrintableChars(withLength, 9));
  EXPECT_EQ(0, memcmp(withLength, "a b    c ", 9));  // embedded zero too
  EXPECT_EQ('z', withLength[9]);                       // not past the length
  char toZero[] = "x\ty\rz";
  EXPECT_TRUE(quarl::ReplaceNonPrintableChars(toZero, 0));
  EXPECT_STREQ("x y z", toZero);
  EXPECT_EQ(5u, quarl::GetHigherDWORD(5, 3));
  EXPECT_EQ(0xFFFFFFFFu, quarl::GetHigherDWORD(1, 0xFFFFFFFF));
}

hostent g_fakeHost;
char g_addrA[4] = {10, 0, 0, 1}, g_addrB[4] = {10, 0, 0, 2}, g_addrC[4] = {10, 0, 0, 3},
     g_addrD[4] = {10, 0, 0, 4};
char* g_twoAddrs[] = {g_addrA, g_addrB, nullptr};
char* g_fourAddrs[] = {g_addrA, g_addrB, g_addrC, g_addrD, nullptr};
hostent* WINAPI FakeLookup(const char*) { return &g_fakeHost; }
hostent* WINAPI FailingLookup(const char*) { return nullptr; }

TEST(SystemHelpers, MachineAddressesRespectTheBuffer) {
  ASSERT_TRUE(quarl::InitNetworkAPI());
  quarl::SetHostLookupHook(FakeLookup);
  DWORD addrs[4] = {};
  g_fakeHost.h_addr_list = g_twoAddrs;
  EXPECT_EQ(1, quarl::GetMachineIPAddresses(addrs, 4));
  EXPECT_EQ(DWORD(ERROR_MORE_DATA), GetLastError());
  EXPECT_EQ(0, memcmp(&addrs[0], g_addrA, 4));

  EXPECT_EQ(2, quarl::GetMachineIPAddresses(addrs, sizeof addrs));
  EXPECT_EQ(0u, GetLastError());
  EXPECT_EQ(0, memcmp(&addrs[1], g_addrB, 4));

  g_fakeHost.h_addr_list = g_fourAddrs;
  EXPECT_EQ(3, quarl::GetMachineIPAddresses(addrs, sizeof addrs));  // never more than three

  quarl::SetHostLookupHook(FailingLookup);
  EXPECT_EQ(0, quarl::GetMachineIPAddresses(addrs, sizeof addrs));
  quarl::SetHostLookupHook(nullptr);
}

TEST(SystemHelpers, PlatformTests) {
  // Wine reports Windows 7; a 64-bit process is never under WOW64.
  EXPECT_TRUE(quarl::IsOSVistaOrHigher());
  EXPECT_FALSE(quarl::IsOSWindows2000());
  if (sizeof(void*) == 8) {
    EXPECT_FALSE(quarl::IsProcessInWow64());
  }
  BOOL wow = FALSE;
  IsWow64Process(GetCurrentProcess(), &wow);
  EXPECT_EQ(wow, quarl::IsProcessInWow64());
  EXPECT_TRUE(quarl::EnableDebugPrivilege());
}

TEST(SystemHelpers, PostInitOpensTheApplicationKey) {
  const std::wstring code = testutil::BitnessName(L"lkpostinit");
  SetIdentity(code.c_str());
  ASSERT_TRUE(quarl::PostInit());
  ASSERT_NE(nullptr, regOptions.GetKey());
  std::wstring path = L"Software\\Quenby Software\\" + code;
  HKEY k;
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &k));
  RegCloseKey(k);
  quarl::DeleteAppMutex();
  RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
  SetIdentity(L"lktest");
}

TEST(SystemHelpers, LoadTimeStateIsReady) {
  EXPECT_NE(nullptr, quarl::GetQUARLInstance());
  EXPECT_NE(GetModuleHandleW(nullptr), quarl::GetQUARLInstance());
  EXPECT_NE(nullptr, quarl::hFontBold);
  EXPECT_NE(nullptr, quarl::hFontNormal);
  EXPECT_NE(nullptr, quarl::hFontUnderline);
  LOGFONTW lf;
  ASSERT_EQ(int(sizeof lf), GetObjectW(quarl::hFontUnderline, sizeof lf, &lf));
  EXPECT_TRUE(lf.lfUnderline);
  EXPECT_EQ(FW_NORMAL, lf.lfWeight);
  HINSTANCE self = GetModuleHandleW(nullptr);
  quarl::SetStoredInstance(self);
  EXPECT_EQ(self, quarl::GetStoredInstance());
}

}  // namespace
