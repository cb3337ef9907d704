// Tests that start programs: the twin relaunch and the whole main program.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "larkon/shell/startup.h"
#include "tests/common/testutil.h"

namespace {

// ---- the 64-bit twin ------------------------------------------------------------

int Relaunch(const wchar_t*) {
  DWORD code;
  if (larkon::RunWow64Twin(GetCommandLineW(), &code)) return int(code);
  return 77;  // no twin: the program would run itself
}
testutil::ChildRole relaunchRole(L"relaunch", Relaunch);

std::wstring ReadWide(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return L"<missing>";
  wchar_t buf[2048] = {};
  DWORD got = 0;
  ReadFile(f, buf, sizeof buf - sizeof(wchar_t), &got, nullptr);
  CloseHandle(f);
  return buf;
}

// A folder of its own with a copy of this test program and its libraries, so
// that the twin is looked for there and nowhere else.
class TwinFolder {
 public:
  TwinFolder() {
    wchar_t tmp[MAX_PATH];
    GetTempPathW(MAX_PATH, tmp);
    dir_ = std::wstring(tmp) + testutil::BitnessName(L"lk-twin-") + L"\\";
    CreateDirectoryW(dir_.c_str(), nullptr);
    const std::wstring from = testutil::SelfDir();
    self_ = dir_ + testutil::SelfPath().substr(from.size());
    CopyFileW(testutil::SelfPath().c_str(), self_.c_str(), FALSE);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((from + L"*.dll").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do CopyFileW((from + fd.cFileName).c_str(), (dir_ + fd.cFileName).c_str(), FALSE);
      while (FindNextFileW(h, &fd));
      FindClose(h);
    }
  }
  ~TwinFolder() {
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((dir_ + L"*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do DeleteFileW((dir_ + fd.cFileName).c_str());
      while (FindNextFileW(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryW(dir_.c_str());
  }
  bool PlaceTwin() {
    // The real twin is 64-bit; the fake of that bitness is used when it is built.
    std::wstring fake = testutil::SelfDir() + L"faketwin64.exe";
    if (GetFileAttributesW(fake.c_str()) == INVALID_FILE_ATTRIBUTES) fake = testutil::SelfDir() + L"faketwin.exe";
    return CopyFileW(fake.c_str(), (dir_ + L"larkon64.exe").c_str(), FALSE) != 0;
  }
  const std::wstring& Dir() const { return dir_; }
  const std::wstring& Self() const { return self_; }

 private:
  std::wstring dir_, self_;
};

TEST(LarkonTwinSpawn, TwinGetsTheCommandLineAndItsExitCodePassesThrough) {
  TwinFolder folder;
  ASSERT_TRUE(folder.PlaceTwin());
  const std::wstring log = folder.Dir() + L"twin.log";
  SetEnvironmentVariableW(L"LK_TWIN_LOG", log.c_str());
  SetEnvironmentVariableW(L"LK_TWIN_EXIT", L"1157");
  testutil::Child child;
  ASSERT_TRUE(child.StartCommand(L"\"" + folder.Self() + L"\" --lk-child=relaunch /BUILDINFO x",
                                 folder.Dir().c_str()));
  EXPECT_EQ(1157u, child.WaitExit(180000));  // the full code, not modulo 256
  EXPECT_EQ(L"larkon64.exe " + child.CommandLine(), ReadWide(log));
  SetEnvironmentVariableW(L"LK_TWIN_LOG", nullptr);
  SetEnvironmentVariableW(L"LK_TWIN_EXIT", nullptr);
}

TEST(LarkonTwinSpawn, WithoutTwinTheProgramRunsOn) {
  TwinFolder folder;
  testutil::Child child;
  ASSERT_TRUE(child.StartCommand(L"\"" + folder.Self() + L"\" --lk-child=relaunch", folder.Dir().c_str()));
  EXPECT_EQ(77u, child.WaitExit(180000));
}

// ---- the whole program ------------------------------------------------------------

const wchar_t kOptionKey[] = L"Software\\Quenby Software\\larkon";

struct Found {
  HWND window = nullptr;
};

BOOL CALLBACK FindMain(HWND w, LPARAM lp) {
  wchar_t title[64], cls[16];
  GetWindowTextW(w, title, 64);
  GetClassNameW(w, cls, 16);
  // Visible only once its set-up (placement included) is done.
  if (wcscmp(title, L"Quenby Larkspan 5") == 0 && wcscmp(cls, L"#32770") == 0 && IsWindowVisible(w)) {
    reinterpret_cast<Found*>(lp)->window = w;
    return FALSE;
  }
  return TRUE;
}

std::wstring ImageOf(DWORD pid) {
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  wchar_t path[MAX_PATH] = L"";
  DWORD n = MAX_PATH;
  if (p) {
    QueryFullProcessImageNameW(p, 0, path, &n);
    CloseHandle(p);
  }
  std::wstring s = path;
  return s.substr(s.find_last_of(L"\\/") + 1);
}

TEST(LarkonProgramSpawn, OpensAsTheTwinAndSavesItsOptionsOnClose) {
  HKEY key;
  RegDeleteTreeW(HKEY_CURRENT_USER, kOptionKey);
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kOptionKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                           &key, nullptr));
  // Stored minimised with an interval of 0: it must open shown at its place,
  // and 100 must come back.
  WINDOWPLACEMENT wp = {sizeof wp, 0, SW_SHOWMINIMIZED, {0, 0}, {-1, -1}, {100, 80, 700, 620}};
  RegSetValueExW(key, L"MainWndPlacement", 0, REG_BINARY, reinterpret_cast<BYTE*>(&wp), sizeof wp);
  DWORD zero = 0;
  RegSetValueExW(key, L"UpdateInterval", 0, REG_DWORD, reinterpret_cast<BYTE*>(&zero), sizeof zero);
  // A stored language: no first-run language dialog.
  DWORD english = 1033;
  RegSetValueExW(key, L"LangID", 0, REG_DWORD, reinterpret_cast<BYTE*>(&english), sizeof english);

  // The 32-bit program hands over to its 64-bit twin; the 64-bit one runs itself.
  const std::wstring exe = testutil::SelfDir() + (sizeof(void*) == 4 ? L"Larkon.exe" : L"larkon64.exe");
  testutil::Child program;
  ASSERT_TRUE(program.StartCommand(L"\"" + exe + L"\"", testutil::SelfDir().c_str()));

  // Another process's window has no event to wait on: look for it until it
  // appears or the program ends.
  Found found;
  for (DWORD start = GetTickCount(); !found.window && GetTickCount() - start < 180000;) {
    EnumWindows(FindMain, reinterpret_cast<LPARAM>(&found));
    if (!found.window && WaitForSingleObject(program.Handle(), 50) == WAIT_OBJECT_0) break;
  }
  ASSERT_NE(nullptr, found.window);
  DWORD owner = 0;
  GetWindowThreadProcessId(found.window, &owner);
  EXPECT_EQ(0, lstrcmpiW(L"larkon64.exe", ImageOf(owner).c_str()));
  EXPECT_FALSE(IsIconic(found.window));
  RECT rc;
  GetWindowRect(found.window, &rc);
  EXPECT_EQ(100, rc.left);
  EXPECT_EQ(80, rc.top);
  EXPECT_TRUE(GetMenu(found.window) != nullptr);
  // The refresh request shares its message number with DM_GETDEFID; without the
  // refresh marker the message must still reach the dialog manager.
  SendMessageW(found.window, DM_SETDEFID, 5001, 0);
  EXPECT_EQ(MAKELRESULT(5001, DC_HASDEFID), SendMessageW(found.window, DM_GETDEFID, 0, 0));

  PostMessageW(found.window, WM_CLOSE, 0, 0);
  EXPECT_EQ(0u, program.WaitExit(180000));
  HANDLE twin = OpenProcess(SYNCHRONIZE, FALSE, owner);
  if (twin) {  // the twin, when there was one, has ended too
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(twin, 10000));
    CloseHandle(twin);
  }

  DWORD type = 0, value = 0, size = sizeof value;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"UpdateInterval", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                            &size));
  EXPECT_EQ(100u, value);
  WINDOWPLACEMENT saved = {};
  size = sizeof saved + 8;
  BYTE raw[sizeof saved + 8];
  ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"MainWndPlacement", nullptr, &type, raw, &size));
  EXPECT_EQ(DWORD(REG_BINARY), type);
  ASSERT_EQ(44u, size);
  memcpy(&saved, raw, sizeof saved);
  EXPECT_EQ(UINT(SW_SHOWNORMAL), saved.showCmd);
  EXPECT_EQ(100, saved.rcNormalPosition.left);
  size = sizeof raw;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"TaskListColumns", nullptr, &type, raw, &size));
  EXPECT_EQ(52u, size);
  size = sizeof value;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"TaskListSortMode", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                                            &size));
  EXPECT_EQ(1u, value);
  size = sizeof value;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Topmost", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size));
  EXPECT_EQ(0u, value);
  // The compatibility core registered the program in the same key.
  wchar_t text[64] = L"";
  size = sizeof text;
  EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(key, L"InstallInfo", L"ApplicationFullName", RRF_RT_REG_SZ, nullptr, text,
                                        &size));
  EXPECT_STREQ(L"Quenby Larkspan 5", text);
  RegCloseKey(key);
}

}  // namespace
