// The compatibility runtime: the executable's and a library's core, the line log
// and the window-text and font helpers.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "dovrak/core.h"
#include "dovrak/runtime.h"
#include "quarl/base/strfmt.h"
#include "tests/common/testutil.h"

namespace {

const std::wstring kKeyRoot = L"Software\\Quenby Software\\";

std::wstring ComputerUser() {
  wchar_t computer[256] = L"", user[256] = L"";
  DWORD cch = 256;
  GetComputerNameW(computer, &cch);
  cch = 256;
  GetUserNameW(user, &cch);
  return std::wstring(L"[") + computer + L"." + user + L"] ";
}

bool MutexExists(const std::wstring& name) {
  HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
  if (h) CloseHandle(h);
  return h != nullptr;
}

// A string value as (text, stored bytes); bytes 0 when it is missing or no string.
std::pair<std::wstring, DWORD> ReadString(const std::wstring& key, const wchar_t* name) {
  HKEY k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return {L"<no key>", 0};
  wchar_t text[600] = {};
  DWORD type = 0, size = sizeof text - sizeof(wchar_t);
  LONG rc = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(k);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return {L"<missing>", 0};
  return {text, size};
}

// A 4-byte binary value; -1 when it is missing or of another form.
int ReadNumber(const std::wstring& key, const wchar_t* name) {
  HKEY k;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return -1;
  int value = 0;
  DWORD type = 0, size = sizeof value;
  LONG rc = RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(k);
  return rc == ERROR_SUCCESS && type == REG_BINARY && size == 4 ? value : -1;
}

DWORD WholeString(const std::wstring& s) { return DWORD((s.size() + 1) * sizeof(wchar_t)); }

// Names of this test and bitness; the application key removed before and after.
class ExeCore : public testing::Test {
 protected:
  void SetUp() override {
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    internal_ = testutil::BitnessName((L"lkdovrak_" + std::wstring(test.begin(), test.end())).c_str());
    full_ = L"Quenby " + internal_ + L" 1";
    key_ = kKeyRoot + internal_;
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
  }
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
  BOOL InitCore(BRVT_EXECORE& core) {
    return core.Init(GetModuleHandleW(nullptr), L"prog.exe /x", SW_SHOW, full_.c_str(), L"Fixture",
                     internal_.c_str(), L"2.3", 2301);
  }
  std::wstring internal_, full_, key_;
};

TEST_F(ExeCore, FirstRunCreatesTheKeyAndItsFootprint) {
  BRVT_EXECORE first;
  EXPECT_TRUE(InitCore(first));
  EXPECT_TRUE(first.IsFirstRun());
  EXPECT_EQ(std::make_pair(full_, WholeString(full_)), ReadString(key_, nullptr));
  const std::wstring info = key_ + L"\\InstallInfo";
  // Every string is stored with its whole terminator.
  EXPECT_EQ(std::make_pair(full_, WholeString(full_)), ReadString(info, L"ApplicationFullName"));
  EXPECT_EQ(std::make_pair(internal_, WholeString(internal_)), ReadString(info, L"ApplicationInternal"));
  EXPECT_EQ(std::make_pair(std::wstring(L"Fixture"), DWORD(16)), ReadString(info, L"ApplicationName"));
  EXPECT_EQ(std::make_pair(std::wstring(L"2.3"), DWORD(8)), ReadString(info, L"InstalledVersion"));
  EXPECT_EQ(2301, ReadNumber(info, L"nInstalledVersion"));
  // The option methods work on the "Options" subkey.
  EXPECT_EQ(ERROR_SUCCESS, first.SetOptionDWORD(L"Answer", 42));
  HKEY options;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, (key_ + L"\\Options").c_str(), 0, KEY_READ, &options));
  DWORD value = 0, size = sizeof value;
  EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(options, L"Answer", nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                                            &size));
  RegCloseKey(options);
  EXPECT_EQ(42u, value);
  EXPECT_EQ(42u, first.GetOptionDWORD(L"Answer", 7));
  EXPECT_EQ(7u, first.GetOptionDWORD(L"Missing", 7));

  BRVT_EXECORE second;
  EXPECT_TRUE(InitCore(second));
  EXPECT_FALSE(second.IsFirstRun());
  EXPECT_EQ(42u, second.GetOptionDWORD(L"Answer", 7));
}

TEST_F(ExeCore, MutexesNameTheCopyTheUserAndTheVersion) {
  BRVT_EXECORE first;
  InitCore(first);
  EXPECT_FALSE(first.IsSecondCopyRunning());
  EXPECT_TRUE(MutexExists(full_ + L" Running"));
  EXPECT_TRUE(MutexExists(ComputerUser() + full_ + L" Running"));
  EXPECT_TRUE(MutexExists(ComputerUser() + full_ + L" Version 2301"));
  BRVT_EXECORE second;
  InitCore(second);
  EXPECT_TRUE(second.IsSecondCopyRunning());
}

TEST_F(ExeCore, IdentityTextsAndBuildInfo) {
  BRVT_EXECORE core;
  InitCore(core);
  EXPECT_STREQ(L"Fixture", core.GetApplicationName());
  EXPECT_STREQ(full_.c_str(), core.GetApplicationFullName());
  EXPECT_STREQ(internal_.c_str(), core.GetApplicationInternal());
  EXPECT_EQ(GetModuleHandleW(nullptr), core.GetInstance());
  struct Case {
    DWORD build;
    BOOL release;
    const wchar_t* want;
  } cases[] = {{8548, 1, L"Version 2.3 (2301/8548)"}, {8548, 0, L"Version 2.3 (2301/8548_dbg)"},
               {0xFFFFFFFF, 7, L"Version 2.3 (2301/4294967295)"}};
  for (const Case& c : cases) {
    EXPECT_TRUE(core.SetBuildInfo(c.build, c.release, "Nov 12 2008", "16:55:07"));
    EXPECT_STREQ(c.want, core.GetFullVersionString());
  }
}

TEST_F(ExeCore, TextsAreCutTo511Characters) {
  BRVT_EXECORE core;
  const std::wstring longName(600, L'n');
  core.Init(nullptr, L"", 0, full_.c_str(), longName.c_str(), internal_.c_str(), L"1", 1);
  EXPECT_EQ(std::wstring(511, L'n'), core.GetApplicationName());
}

TEST_F(ExeCore, AppInitIsInitWithTheNameTwiceAndNoVersionText) {
  BRVT_EXECORE core;
  EXPECT_FALSE(core.AppInit(full_.c_str(), internal_.c_str(), 12, GetModuleHandleW(nullptr)));
  EXPECT_STREQ(full_.c_str(), core.GetApplicationName());
  EXPECT_STREQ(full_.c_str(), core.GetApplicationFullName());
  core.SetBuildInfo(3, 1, nullptr, nullptr);
  EXPECT_STREQ(L"Version - (12/3)", core.GetFullVersionString());
  EXPECT_TRUE(MutexExists(ComputerUser() + full_ + L" Version 12"));
}

// ---- the log --------------------------------------------------------------------

// A log file of this test program's own, read back whole.
class LogFile {
 public:
  LogFile() {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    path_ = std::wstring(dir) + testutil::BitnessName(L"lkdovrak-log-") + L".log";
    file_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0,
                        nullptr);
  }
  ~LogFile() {
    CloseHandle(file_);
    DeleteFileW(path_.c_str());
  }
  HANDLE Handle() const { return file_; }
  std::string Text() const {
    SetFilePointer(file_, 0, nullptr, FILE_BEGIN);
    char buf[8192] = {};
    DWORD got = 0;
    ReadFile(file_, buf, sizeof buf - 1, &got, nullptr);
    SetFilePointer(file_, 0, nullptr, FILE_END);
    return std::string(buf, got);
  }

 private:
  std::wstring path_;
  HANDLE file_;
};

std::string Tid() { return "[" + std::to_string(GetCurrentThreadId()) + "] "; }

TEST_F(ExeCore, SuccessfulStartLogsOnlySuccessAndDone) {
  LogFile log;
  ASSERT_NE(INVALID_HANDLE_VALUE, log.Handle());
  BRVT_EXECORE core;
  core.GetErrorReport()->SetLogFile(log.Handle());
  InitCore(core);
  EXPECT_EQ(Tid() + "BRVTErrorReport[34]:BRVT_ERRORREPORT::Init - Success\r\n" + Tid() +
                "BRVTExeCore[46]:BRVT_EXECORE::Init - Done\r\n",
            log.Text());
  core.GetErrorReport()->SetLogFile(nullptr);
}

TEST_F(ExeCore, FailedStepIsLoggedWithItsError) {
  // A backslash in a mutex name names an object folder that does not exist.
  full_ = L"Quenby no\\such " + internal_;
  LogFile log;
  BRVT_EXECORE core;
  core.GetErrorReport()->SetLogFile(log.Handle());
  InitCore(core);
  core.GetErrorReport()->SetLogFile(nullptr);
  const std::string text = log.Text();
  const std::string failed = Tid() + "BRVTExeCore[40]:BRVT_EXECORE::Init - CreateBaseMutex() failed. - ";
  const size_t at = text.find(failed);
  ASSERT_NE(std::string::npos, at) << text;
  EXPECT_NE('0', text[at + failed.size()]) << text;  // a real error code follows
  EXPECT_EQ(std::string::npos, text.find("CreateBaseRegKey")) << text;  // the other steps worked
  EXPECT_EQ(std::string::npos, text.find("SetBaseRegInfo")) << text;
  EXPECT_NE(std::string::npos, text.find("BRVTExeCore[46]:BRVT_EXECORE::Init - Done\r\n")) << text;
  EXPECT_FALSE(core.IsSecondCopyRunning());
}

TEST(ErrorReport, LineTable) {
  struct Case {
    const wchar_t* source;
    int line;
    const wchar_t* function;
    const wchar_t* text;
    DWORD error;
    const wchar_t* want;
  } cases[] = {
      {L"C:\\src\\main.cpp", 12, L"Run", L"", 0, L"[7] main[12]:Run"},
      {L"C:\\src\\main.cpp", 12, L"Run", nullptr, 5, L"[7] main[12]:Run - 5"},
      {L"main.cpp", 12, L"Run", L"x", 5, L"[7] main[12]:Run - x - 5"},
      {L"d/sub.name.cpp", -1, L"F", L"t", 0, L"[7] sub.name[-1]:F - t"},  // only the last extension goes
      {L"noext", 1, L"", L"", 0, L"[7] noext[1]:"},
  };
  for (const Case& c : cases) {
    wchar_t line[BRVT_ERRORREPORT::kLineChars];
    BRVT_ERRORREPORT::FormatLine(line, BRVT_ERRORREPORT::kLineChars, 7, c.source, c.line, c.function, c.text,
                                 c.error);
    EXPECT_STREQ(c.want, line);
  }
  // A long text is cut to 367 characters before the line end.
  const std::wstring longText(500, L'a');
  wchar_t line[BRVT_ERRORREPORT::kLineChars + 10];
  BRVT_ERRORREPORT::FormatLine(line, BRVT_ERRORREPORT::kLineChars + 10, 7, L"m.cpp", 1, L"F", longText.c_str(), 0);
  EXPECT_EQ(367u, wcslen(line));
}

TEST(ErrorReport, LogUserCarriesTheLastErrorAndClearsIt) {
  LogFile log;
  BRVT_ERRORREPORT report;
  report.Init(L"Full", L"fixture", L"1.0");
  report.SetLogFile(log.Handle());
  SetLastError(5);
  report.LogUser(0, L"ignored", L"denied", L"x\\y.cpp", 9, L"G");
  EXPECT_EQ(0u, GetLastError());
  report.AddInfo(0, 99, L"z.cpp", 3, L"H", L"", 0);
  report.SetLogFile(nullptr);
  EXPECT_EQ(Tid() + "y[9]:G - denied - 5\r\n[99] z[3]:H\r\n", log.Text());
  const std::wstring name = report.GetLogFileName();
  // "fixture_Log_yyyymmdd_hhmmss.log"
  ASSERT_EQ(31u, name.size()) << name.c_str();
  EXPECT_EQ(L"fixture_Log_", name.substr(0, 12));
  EXPECT_EQ(L'_', name[20]);
  EXPECT_EQ(L".log", name.substr(27));
}

// ---- a second copy in another process ----------------------------------------------

int SecondCopy(const wchar_t* fullName) {
  BRVT_EXECORE core;
  core.Init(nullptr, L"", 0, fullName, L"Fixture", testutil::BitnessName(L"lkdovrak_second").c_str(), L"1", 1);
  return core.IsSecondCopyRunning() ? 1 : 0;
}
testutil::ChildRole secondCopyRole(L"secondcopy", SecondCopy);

TEST(ExeCoreSpawn, AnotherProcessSeesTheRunningCopy) {
  // One word: the child gets it as its only argument.
  const std::wstring full = testutil::BitnessName(L"Quenby.lkdovrak.second");
  BRVT_EXECORE core;
  core.Init(nullptr, L"", 0, full.c_str(), L"Fixture", testutil::BitnessName(L"lkdovrak_second").c_str(), L"1", 1);
  testutil::Child same, other;
  ASSERT_TRUE(same.Start(L"secondcopy", full.c_str()));
  EXPECT_EQ(1u, same.WaitExit(180000));
  ASSERT_TRUE(other.Start(L"secondcopy", (full + L"-other").c_str()));
  EXPECT_EQ(0u, other.WaitExit(180000));
  RegDeleteTreeW(HKEY_CURRENT_USER, (kKeyRoot + testutil::BitnessName(L"lkdovrak_second")).c_str());
}

// ---- a library's core and the library's own start ----------------------------------

TEST(DllCore, FootprintNamedByTheModuleFile) {
  const std::wstring internal = testutil::BitnessName(L"lkdovrak_dll");
  const std::wstring full = L"Quenby " + internal;
  const std::wstring key = kKeyRoot + internal;
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
  BRVT_DLLCORE core;
  EXPECT_TRUE(core.Init(GetModuleHandleW(nullptr), full.c_str(), L"Lib", internal.c_str(), L"9.9", 9901));
  EXPECT_TRUE(core.IsFirstRun());
  EXPECT_FALSE(core.IsAlreadyLoaded());
  EXPECT_STREQ(L"Lib", core.GetApplicationName());
  EXPECT_TRUE(MutexExists(full + L" Loaded"));
  EXPECT_TRUE(MutexExists(full + L" Version 9901"));
  EXPECT_EQ(full, ReadString(key, nullptr).first);
  EXPECT_EQ(std::make_pair(std::wstring(L"Lib"), DWORD(8)), ReadString(key + L"\\ModuleInfo", L"ApplicationName"));
  const std::wstring self = testutil::SelfPath();
  EXPECT_EQ(std::make_pair(std::wstring(L"9.9"), DWORD(8)),
            ReadString(key + L"\\ModuleInfo\\InstalledVersions", self.c_str()));
  EXPECT_EQ(9901, ReadNumber(key + L"\\ModuleInfo\\nInstalledVersions", self.c_str()));

  BRVT_DLLCORE again;
  again.Init(GetModuleHandleW(nullptr), full.c_str(), L"Lib", internal.c_str(), L"9.9", 9901);
  EXPECT_TRUE(again.IsAlreadyLoaded());
  EXPECT_FALSE(again.IsFirstRun());
  RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
}

TEST(Library, DataSetAtLoad) {
  ASSERT_NE(nullptr, brvt::lpExeCore);
  EXPECT_STREQ(L"", brvt::lpExeCore->GetApplicationName());  // constructed empty; the program calls Init
  EXPECT_EQ(8101, BRVT_BrevantVersion);
  EXPECT_STREQ(L"8.1", BRVT_BrevantVersionString);
  for (const wchar_t* name : {L"Quenby Brevant8 Loaded", L"Quenby Brevant8 Version 8101", L"Quenby Brevant Loaded",
                              L"Quenby Brevant Version 8101"})
    EXPECT_TRUE(MutexExists(name)) << name;
  wchar_t dir[MAX_PATH];
  GetWindowsDirectoryW(dir, MAX_PATH);
  EXPECT_STREQ(dir, BRVT_WinDir);
  GetSystemDirectoryW(dir, MAX_PATH);
  EXPECT_STREQ(dir, BRVT_SysDir);
  struct Font {
    HFONT font;
    LONG weight;
    BYTE underline, italic;
  } fonts[] = {{BRVT_hFontNormal, 400, 0, 0}, {BRVT_hFontBold, 700, 0, 0}, {BRVT_hFontUnderline, 400, 1, 0},
               {BRVT_hFontItalic, 400, 0, 1}};
  for (const Font& f : fonts) {
    LOGFONTW lf = {};
    ASSERT_TRUE(GetObjectW(f.font, sizeof lf, &lf));
    EXPECT_STREQ(L"Tahoma", lf.lfFaceName);
    EXPECT_EQ(13, lf.lfHeight);
    EXPECT_EQ(f.weight, lf.lfWeight);
    EXPECT_EQ(f.underline, lf.lfUnderline);
    EXPECT_EQ(f.italic, lf.lfItalic);
  }
  LOGBRUSH lb = {};
  GetObjectW(BRVT_hWhite, sizeof lb, &lb);
  EXPECT_EQ(RGB(255, 255, 255), lb.lbColor);
  GetObjectW(BRVT_hBlack, sizeof lb, &lb);
  EXPECT_EQ(RGB(0, 0, 0), lb.lbColor);
}

TEST(Library, OldStartConvertsUtf8AndSeesASecondCopy) {
  const std::string name = "L\xC3\xA4ufer " + std::to_string(sizeof(void*) * 8);  // "Läufer 64"
  EXPECT_TRUE(BRVT_AppInit(name.c_str(), "lk", 77, GetModuleHandleW(nullptr)));
  const std::wstring wide = L"L\u00E4ufer " + std::to_wstring(sizeof(void*) * 8);
  EXPECT_EQ(wide, BRVT_AppName);
  EXPECT_STREQ(L"lk", BRVT_AppCode);
  EXPECT_EQ(77, BRVT_AppVer);
  EXPECT_FALSE(BRVT_SecondCopyRunning);
  EXPECT_TRUE(MutexExists(L"Quenby " + wide + L" Running"));
  EXPECT_TRUE(MutexExists(L"Quenby " + wide + L" Version 77"));
  HANDLE first = BRVT_AppMutex;
  EXPECT_TRUE(BRVT_AppInit(name.c_str(), "lk", 77, GetModuleHandleW(nullptr)));
  EXPECT_TRUE(BRVT_SecondCopyRunning);
  CloseHandle(first);
}

// ---- helpers ---------------------------------------------------------------------

TEST(Helpers, LoadFontStyles) {
  struct Case {
    int style;
    LONG weight;
    BYTE underline, italic;
  } cases[] = {{1005, 700, 0, 0}, {1006, 400, 1, 0}, {1007, 400, 0, 1}, {0, 400, 0, 0}, {1004, 400, 0, 0}};
  for (const Case& c : cases) {
    HFONT f = BRVT_LoadFont("Courier New", c.style, 11);
    LOGFONTW lf = {};
    ASSERT_TRUE(GetObjectW(f, sizeof lf, &lf)) << c.style;
    EXPECT_STREQ(L"Courier New", lf.lfFaceName);
    EXPECT_EQ(11, lf.lfHeight);
    EXPECT_EQ(0, lf.lfWidth);
    EXPECT_EQ(c.weight, lf.lfWeight) << c.style;
    EXPECT_EQ(c.underline, lf.lfUnderline) << c.style;
    EXPECT_EQ(c.italic, lf.lfItalic) << c.style;
    DeleteObject(f);
  }
  // A face name longer than 31 characters is cut.
  HFONT f = BRVT_LoadFont(std::string(40, 'f').c_str(), 0, 10);
  LOGFONTW lf = {};
  GetObjectW(f, sizeof lf, &lf);
  EXPECT_EQ(std::wstring(31, L'f'), lf.lfFaceName);
  DeleteObject(f);
}

struct SetTextCounter {
  static inline int count;
  static inline WNDPROC previous;
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_SETTEXT) ++count;
    return CallWindowProcW(previous, w, m, wp, lp);
  }
};

TEST(Helpers, SetWindowTextComparesTheWholeText) {
  HWND w = CreateWindowExW(0, L"EDIT", L"same", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(nullptr, w);
  SendMessageW(w, EM_SETLIMITTEXT, 0, 0);
  SetTextCounter::count = 0;
  SetTextCounter::previous =
      reinterpret_cast<WNDPROC>(SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SetTextCounter::Proc)));
  EXPECT_TRUE(BRVT_SetWindowText(w, L"same"));
  EXPECT_EQ(0, SetTextCounter::count);
  // Two long texts that agree in their first 1024 characters are still different.
  const std::wstring a = std::wstring(1024, L'a') + L"1", b = std::wstring(1024, L'a') + L"2";
  EXPECT_TRUE(BRVT_SetWindowText(w, a.c_str()));
  EXPECT_EQ(1, SetTextCounter::count);
  EXPECT_TRUE(BRVT_SetWindowText(w, b.c_str()));
  EXPECT_EQ(2, SetTextCounter::count);
  EXPECT_TRUE(BRVT_SetWindowText(w, b.c_str()));
  EXPECT_EQ(2, SetTextCounter::count);
  wchar_t back[1100] = L"";
  GetWindowTextW(w, back, 1100);
  EXPECT_EQ(b, back);
  // A text the window shows as its start, but shorter, is set too.
  EXPECT_TRUE(BRVT_SetWindowText(w, L"aaa"));
  EXPECT_EQ(3, SetTextCounter::count);
  SetWindowLongPtrW(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(SetTextCounter::previous));
  DestroyWindow(w);
}

}  // namespace
