// The main window run in this test program, on its own thread as in the
// program, over the live process list of the test session.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "larkon/shell/mainwindow.h"
#include "larkon/shell/startup.h"
#include "larkon/shell/systemdata.h"
#include "quarl/appinfo.h"
#include "quarl/language.h"
#include "quarl/regoptions.h"
#include "resources/larkon_ids.h"
#include "tests/common/testutil.h"

namespace {

int IdleChild(const wchar_t*) {
  Sleep(INFINITE);  // ended by the test that started it
  return 0;
}
testutil::ChildRole idleRole(L"larkon_idle", IdleChild);

DWORD WINAPI MainThread(LPVOID) { return larkon::RunMainWindow(SW_SHOWNORMAL); }

class MainWindowSpawn : public testing::Test {
 protected:
  void SetUp() override {
    const std::wstring exe = testutil::SelfDir() + L"larkon64.exe";
    module_ = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module_);
    previousInstance_ = quarl::GetStoredInstance();
    quarl::SetStoredInstance(module_);
    code_ = testutil::BitnessName(L"larkon_mainwindow_test");
    key_ = L"Software\\Quenby Software\\" + code_;
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    ASSERT_TRUE(regOptions.Init(HKEY_CURRENT_USER, key_.c_str()));
    regOptions.SetOptionDWORD(L"UpdateInterval", 3000);
    quarl::SetCurrentLangID(1033);
    larkon::g_langModule.Init(module_, L"Larkspan", code_.c_str(), 1033);
    larkon::InitProcessList();
    larkon::g_refreshEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, MainThread, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, thread_);
    // The worker's first refresh comes once the window is set up and shown.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(larkon::g_refreshEvent, 60000));
    dlg_ = larkon::g_mainWindow.window;
    ASSERT_TRUE(IsWindow(dlg_));
    list_ = GetDlgItem(dlg_, IDC_PROCESS_LIST);
  }
  void TearDown() override {
    if (thread_) {
      if (IsWindow(dlg_)) PostMessageW(dlg_, WM_COMMAND, IDM_CLOSE, 0);
      EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread_, 60000));
      CloseHandle(thread_);
    }
    if (larkon::g_refreshEvent) CloseHandle(larkon::g_refreshEvent);
    larkon::g_refreshEvent = nullptr;
    if (HKEY k = larkon::g_langModule.GetKey()) RegCloseKey(k);
    larkon::g_langModule = UIL_LANGMODULE();
    quarl::SetCurrentLangID(0);
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
    quarl::SetStoredInstance(previousInstance_);
    if (module_) FreeLibrary(module_);
  }
  // Waits for refreshes until the test holds or `most` of them have passed.
  template <typename Pred>
  bool WithinRefreshes(int most, Pred holds) {
    ResetEvent(larkon::g_refreshEvent);  // a refresh that ended before the change says nothing
    for (int i = 0; i < most; ++i) {
      if (WaitForSingleObject(larkon::g_refreshEvent, 30000) != WAIT_OBJECT_0) return false;
      if (holds()) return true;
    }
    return false;
  }
  int RowOf(DWORD pid) {
    LVFINDINFOW find = {};
    find.flags = LVFI_PARAM;
    find.lParam = LPARAM(pid);
    return int(SendMessageW(list_, LVM_FINDITEMW, WPARAM(-1), reinterpret_cast<LPARAM>(&find)));
  }
  std::vector<DWORD> RowPids() {
    std::vector<DWORD> pids;
    int n = ListView_GetItemCount(list_);
    for (int i = 0; i < n; ++i) {
      LVITEMW item = {};
      item.mask = LVIF_PARAM;
      item.iItem = i;
      ListView_GetItem(list_, &item);
      pids.push_back(DWORD(item.lParam));
    }
    return pids;
  }
  std::wstring CellOf(int row, int column) {
    wchar_t buf[600] = L"";
    ListView_GetItemText(list_, row, column, buf, 600);
    return buf;
  }
  UINT CheckedIn(int viewPosition) {
    HMENU sub = GetSubMenu(GetSubMenu(GetMenu(dlg_), 1), viewPosition);
    for (int i = 0; sub && i < GetMenuItemCount(sub); ++i)
      if (GetMenuState(sub, UINT(i), MF_BYPOSITION) & MF_CHECKED) return GetMenuItemID(sub, i);
    return 0;
  }
  bool Checked(int viewPosition, UINT command) {
    HMENU sub = GetSubMenu(GetSubMenu(GetMenu(dlg_), 1), viewPosition);
    return sub && (GetMenuState(sub, command, MF_BYCOMMAND) & MF_CHECKED) != 0;
  }
  void ClickColumn(int column) {
    NMLISTVIEW click = {};
    click.hdr.hwndFrom = list_;
    click.hdr.idFrom = IDC_PROCESS_LIST;
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    SendMessageW(dlg_, WM_NOTIFY, IDC_PROCESS_LIST, reinterpret_cast<LPARAM>(&click));
  }
  DWORD StoredDword(const wchar_t* name) {
    DWORD value = 0xBAD, size = sizeof value;
    RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
  }
  HMODULE module_ = nullptr;
  HINSTANCE previousInstance_ = nullptr;
  std::wstring code_, key_;
  HANDLE thread_ = nullptr;
  HWND dlg_ = nullptr, list_ = nullptr;
};

TEST_F(MainWindowSpawn, ChildrenAppearAndVanishWithinARefreshAndEveryCommandWorks) {
  // The stored rate is in force and checked; the fastest one replaces it.
  EXPECT_EQ(3000u, larkon::g_mainWindow.refreshInterval);
  EXPECT_EQ(UINT(IDM_RATE_3S), CheckedIn(1));
  SendMessageW(dlg_, WM_COMMAND, IDM_RATE_100MS, 0);
  EXPECT_EQ(100u, larkon::g_mainWindow.refreshInterval);
  EXPECT_EQ(UINT(IDM_RATE_100MS), CheckedIn(1));
  EXPECT_EQ(100u, larkon::g_processList.GetUpdateInterval());
  EXPECT_EQ(UINT(IDM_SORT_TREE), CheckedIn(0));  // the default sort: the tree

  // A refresh that begins after a child started shows it: at most the second
  // one from now (the first may have begun before).
  testutil::Child child;
  ASSERT_TRUE(child.Start(L"larkon_idle"));
  EXPECT_TRUE(WithinRefreshes(2, [&] { return RowOf(child.Pid()) >= 0; })) << child.Pid();
  int row = RowOf(child.Pid());
  ASSERT_GE(row, 0);
  EXPECT_EQ(std::to_wstring(child.Pid()), CellOf(row, 7));
  EXPECT_EQ(0, _wcsicmp(CellOf(row, 0).c_str(), (L"larkon_tests64.exe")));

  TerminateProcess(child.Handle(), 1);
  child.WaitExit(30000);
  EXPECT_TRUE(WithinRefreshes(2, [&] { return RowOf(child.Pid()) < 0; }));

  // The process ID header sorts ascending, a second click descending.
  ClickColumn(7);
  EXPECT_EQ(8u, larkon::g_mainWindow.listView.sortMode);
  EXPECT_EQ(UINT(IDM_SORT_PID), CheckedIn(0));
  std::vector<DWORD> pids = RowPids();
  ASSERT_GE(pids.size(), 2u);
  for (size_t i = 1; i < pids.size(); ++i) EXPECT_LT(pids[i - 1], pids[i]);
  EXPECT_FALSE(Checked(0, IDM_SORT_REVERSE));
  ClickColumn(7);
  EXPECT_TRUE(larkon::g_mainWindow.listView.reverse);
  EXPECT_TRUE(Checked(0, IDM_SORT_REVERSE));
  pids = RowPids();
  for (size_t i = 1; i < pids.size(); ++i) EXPECT_GT(pids[i - 1], pids[i]);
  // The I/O column sorts nothing.
  ClickColumn(2);
  EXPECT_EQ(8u, larkon::g_mainWindow.listView.sortMode);
  SendMessageW(dlg_, WM_COMMAND, IDM_SORT_NAME, 0);
  EXPECT_EQ(2u, larkon::g_mainWindow.listView.sortMode);
  EXPECT_TRUE(larkon::g_mainWindow.listView.reverse);  // a menu sort keeps the flag

  // Topmost: the View menu item, a registered window and the main window follow.
  HWND follower = CreateWindowExW(0, L"STATIC", L"follower", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr,
                                  nullptr);
  HWND gone = CreateWindowExW(0, L"STATIC", L"gone", WS_POPUP, 0, 0, 50, 50, nullptr, nullptr, nullptr, nullptr);
  SendMessageW(dlg_, larkon::WM_PROPERTIES_OPENED, reinterpret_cast<WPARAM>(follower), 0);
  SendMessageW(dlg_, larkon::WM_PROPERTIES_OPENED, reinterpret_cast<WPARAM>(gone), 0);
  SendMessageW(dlg_, larkon::WM_PROPERTIES_CLOSED, reinterpret_cast<WPARAM>(gone), 0);
  SendMessageW(dlg_, WM_COMMAND, IDM_TOPMOST, 0);
  HMENU view = GetSubMenu(GetMenu(dlg_), 1);
  EXPECT_EQ(UINT(MF_CHECKED), GetMenuState(view, 3, MF_BYPOSITION) & MF_CHECKED);
  EXPECT_TRUE(GetWindowLongW(dlg_, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_TRUE(GetWindowLongW(follower, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_FALSE(GetWindowLongW(gone, GWL_EXSTYLE) & WS_EX_TOPMOST);
  // And back: the mark goes, the followers leave the top with the window.
  SendMessageW(dlg_, WM_COMMAND, IDM_TOPMOST, 0);
  EXPECT_EQ(0u, GetMenuState(view, 3, MF_BYPOSITION) & MF_CHECKED);
  EXPECT_FALSE(GetWindowLongW(dlg_, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_FALSE(GetWindowLongW(follower, GWL_EXSTYLE) & WS_EX_TOPMOST);
  SendMessageW(dlg_, WM_COMMAND, IDM_TOPMOST, 0);
  EXPECT_TRUE(GetWindowLongW(follower, GWL_EXSTYLE) & WS_EX_TOPMOST);

  // Sizing below the minimum stops there.
  RECT small = {0, 0, 100, 100};
  SendMessageW(dlg_, WM_SIZING, WMSZ_BOTTOMRIGHT, reinterpret_cast<LPARAM>(&small));
  EXPECT_EQ(350, small.right);
  EXPECT_EQ(300, small.bottom);

  // Closing stores what the commands set.
  SendMessageW(dlg_, WM_COMMAND, IDM_CLOSE, 0);
  EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread_, 60000));
  CloseHandle(thread_);
  thread_ = nullptr;
  EXPECT_EQ(2u, StoredDword(L"TaskListSortMode"));
  EXPECT_EQ(1u, StoredDword(L"TaskListSortReverse"));
  EXPECT_EQ(100u, StoredDword(L"UpdateInterval"));
  EXPECT_EQ(1u, StoredDword(L"Topmost"));
  int order[13] = {};
  DWORD size = sizeof order;
  EXPECT_EQ(ERROR_SUCCESS,
            RegGetValueW(HKEY_CURRENT_USER, key_.c_str(), L"TaskListColumns", RRF_RT_REG_BINARY, nullptr, order, &size));
  for (int i = 0; i < 13; ++i) EXPECT_EQ(i, order[i]);
  // The list view shared the process list's image list; its end leaves it alive.
  EXPECT_GE(ImageList_GetImageCount(larkon::g_processList.GetImageList()), 1);
  DestroyWindow(follower);
  DestroyWindow(gone);
}

}  // namespace
