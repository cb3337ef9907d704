// The main program's own dialogs, driven under the test display.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "larkon/shell/startup.h"
#include "larkon/shell/stubs.h"
#include "quarl/appinfo.h"
#include "resources/larkon_ids.h"
#include "tests/common/testutil.h"

namespace {

// The program's resources, for dialogs shown from this test program.
class ProgramResources : public testing::Test {
 protected:
  void SetUp() override {
    const std::wstring exe = testutil::SelfDir() + (sizeof(void*) == 4 ? L"Larkon.exe" : L"larkon64.exe");
    module_ = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module_);
    previous_ = quarl::GetStoredInstance();
    quarl::SetStoredInstance(module_);
    // The program's dialogs come through its language module.
    code_ = testutil::BitnessName(L"larkon_dialog_test");
    larkon::g_langModule.Init(module_, L"Larkspan", code_.c_str(), 1033);
  }
  void TearDown() override {
    if (HKEY k = larkon::g_langModule.GetKey()) RegCloseKey(k);
    larkon::g_langModule = UIL_LANGMODULE();
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Quenby Software\\" + code_).c_str());
    quarl::SetStoredInstance(previous_);
    if (module_) FreeLibrary(module_);
  }
  std::wstring code_;
  HMODULE module_ = nullptr;
  HINSTANCE previous_ = nullptr;
};

// Runs the warning on a thread of its own and hands its window over as soon as it
// is activated.
struct WarningRun {
  HANDLE shown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HWND dialog = nullptr;
  BOOL result = -1;
  HANDLE thread = nullptr;

  static thread_local WarningRun* current;
  static LRESULT CALLBACK Cbt(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE && current && !current->dialog) {
      current->dialog = reinterpret_cast<HWND>(wp);
      SetEvent(current->shown);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }
  static DWORD WINAPI Run(LPVOID p) {
    auto self = static_cast<WarningRun*>(p);
    current = self;
    HHOOK hook = SetWindowsHookExW(WH_CBT, Cbt, nullptr, GetCurrentThreadId());
    self->result = larkon::ShowShutdownWarning(nullptr, L"The text for the message control.");
    UnhookWindowsHookEx(hook);
    SetEvent(self->shown);  // also when no dialog could be shown
    return 0;
  }
  void Start() { thread = CreateThread(nullptr, 0, Run, this, 0, nullptr); }
  BOOL Finish() {
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    CloseHandle(shown);
    return result;
  }
};
thread_local WarningRun* WarningRun::current;

std::wstring ItemText(HWND dlg, int id) {
  wchar_t buf[256] = L"";
  GetDlgItemTextW(dlg, id, buf, 256);
  return buf;
}

TEST_F(ProgramResources, ShutdownWarningReturnsItsCheckBox) {
  for (bool tick : {true, false}) {
    WarningRun run;
    run.Start();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(run.shown, 10000));
    ASSERT_NE(nullptr, run.dialog);
    wchar_t caption[64];
    GetWindowTextW(run.dialog, caption, 64);
    EXPECT_STREQ(L"Quenby Larkspan 2008", caption);
    EXPECT_EQ(L"Quenby Larkspan has encountered a problem.", ItemText(run.dialog, IDC_WARN_HEADING));
    EXPECT_EQ(L"The text for the message control.", ItemText(run.dialog, IDC_WARN_TEXT));
    EXPECT_EQ(L"Do not show this warning again.", ItemText(run.dialog, IDC_WARN_CHECK));
    EXPECT_EQ(reinterpret_cast<LRESULT>(quarl::hFontBold),
              SendDlgItemMessageW(run.dialog, IDC_WARN_HEADING, WM_GETFONT, 0, 0));
    if (tick) SendDlgItemMessageW(run.dialog, IDC_WARN_CHECK, BM_CLICK, 0, 0);
    SendMessageW(run.dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(tick ? TRUE : FALSE, run.Finish());
  }
}

TEST_F(ProgramResources, EveryLanguageHasTheSameResources) {
  struct Res {
    LPCWSTR type;
    int id;
  } resources[] = {{RT_DIALOG, IDD_MAIN}, {RT_DIALOG, IDD_SHUTDOWN_WARNING}, {RT_MENU, IDM_MAIN},
                   {RT_STRING, IDS_INIT_PROCESS_LIST / 16 + 1}, {RT_STRING, IDS_LOADING_RESOURCES / 16 + 1},
                   {RT_VERSION, 1}};
  for (WORD lang : {MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)})
    for (const Res& r : resources)
      EXPECT_NE(nullptr, FindResourceExW(module_, r.type, MAKEINTRESOURCEW(r.id), lang)) << lang << " " << r.id;
}

}  // namespace
