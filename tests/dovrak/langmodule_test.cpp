// The compatibility runtime's language module: string ring and lookup with its
// fallbacks, the stored language, loaders and the two language dialogs.
#include "dovrak/langmodule.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "resources/dovrak86_ids.h"
#include "tests/common/testutil.h"
#include "tests/dovrak/langmodule_fixture.h"

namespace {

constexpr WORD kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);        // 1031
constexpr WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

HINSTANCE Self() { return GetModuleHandleW(nullptr); }

// A module object on this test's own registry name, bound to this program's
// resources; the key is gone afterwards.
class LangModule : public testing::Test {
 protected:
  void SetUp() override {
    name_ = testutil::BitnessName(L"lkuilang");
    RegDeleteTreeW(HKEY_CURRENT_USER, Path().c_str());
  }
  void TearDown() override {
    for (auto& m : modules_)
      if (m->GetKey()) RegCloseKey(m->GetKey());
    RegDeleteTreeW(HKEY_CURRENT_USER, Path().c_str());
  }
  std::wstring Path() const { return L"Software\\Quenby Software\\" + name_; }
  // A fresh object (as a new start of the program would have) after Init.
  UIL_LANGMODULE* Start(DWORD defaultLanguage) {
    modules_.push_back(std::make_unique<UIL_LANGMODULE>());
    EXPECT_TRUE(modules_.back()->Init(Self(), L"Language Test", name_.c_str(), defaultLanguage));
    return modules_.back().get();
  }
  // "UILanguage" as (type, number); type 0 when missing.
  std::pair<DWORD, DWORD> Stored() {
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, (Path() + L"\\UILang").c_str(), L"UILanguage", RRF_RT_ANY, &type, &value,
                     &size) != ERROR_SUCCESS)
      return {0, 0};
    return {type, value};
  }
  void StoreRaw(DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_CURRENT_USER, (Path() + L"\\UILang").c_str(), L"UILanguage", type, data, bytes));
  }
  std::wstring name_;
  std::vector<std::unique_ptr<UIL_LANGMODULE>> modules_;
};

TEST_F(LangModule, NonzeroDefaultIsStoredWithoutAsking) {
  UIL_LANGMODULE* lm = Start(kGerman);  // a dialog here would hang the test
  EXPECT_EQ(kGerman, lm->GetLanguage());
  EXPECT_EQ(std::make_pair(DWORD(REG_DWORD), DWORD(kGerman)), Stored());
  EXPECT_STREQ(L"Language Test", lm->GetApplicationName());
  // A stored language wins over the default of a later start.
  EXPECT_EQ(kGerman, Start(kEnglish)->GetLanguage());
}

TEST_F(LangModule, OnlyAFourByteNumberIsALanguage) {
  const BYTE twoBytes[2] = {0x07, 0x04};
  StoreRaw(REG_BINARY, twoBytes, sizeof twoBytes);
  EXPECT_EQ(0, Start(kEnglish)->GetLanguage());
  const DWORD high = 0x00010409;  // only the low 16 bits are the language
  StoreRaw(REG_DWORD, &high, sizeof high);
  EXPECT_EQ(kEnglish, Start(kGerman)->GetLanguage());
}

TEST_F(LangModule, SelectedLanguageAppliesFromTheNextStart) {
  UIL_LANGMODULE* lm = Start(kGerman);
  EXPECT_TRUE(lm->SelectLanguage(kEnglish));
  EXPECT_EQ(kGerman, lm->GetLanguage());
  EXPECT_STREQ(L"Beide Sprachen", lm->GetLangString(IDS_LM_BOTH));
  EXPECT_EQ(DWORD(kEnglish), Stored().second);
  EXPECT_STREQ(L"Both languages", Start(0)->GetLangString(IDS_LM_BOTH));
}

TEST_F(LangModule, SeventeenthStringReusesTheFirstSlot) {
  UIL_LANGMODULE* lm = Start(kEnglish);
  const wchar_t* first = lm->GetLangString(IDS_LM_BOTH);
  EXPECT_STREQ(L"Both languages", first);
  const wchar_t* slots[16] = {first};
  for (int i = 1; i < 16; ++i) {
    slots[i] = lm->GetLangString(IDS_LM_ENGLISH_ONLY);
    for (int j = 0; j < i; ++j) EXPECT_NE(slots[j], slots[i]) << i;
  }
  EXPECT_STREQ(L"Both languages", first);  // still valid after 15 further calls
  EXPECT_EQ(0, lm->GetRingPosition());
  EXPECT_EQ(first, lm->GetLangString(IDS_LM_ENGLISH_BLOCK));
  EXPECT_STREQ(L"A block of its own", first);
  EXPECT_EQ(1, lm->GetRingPosition());
}

// The ways a string is found, with the thread locale that the system's own
// loader follows.
TEST_F(LangModule, StringFallbacks) {
  const LCID previous = GetThreadLocale();
  struct Case {
    WORD language;
    LANGID threadLocale;
    UINT id;
    const wchar_t* expected;
  } cases[] = {
      {kGerman, 0x409, IDS_LM_BOTH, L"Beide Sprachen"},             // in the language
      {kEnglish, 0x407, IDS_LM_BOTH, L"Both languages"},            // the language wins over the locale
      {kGerman, 0x409, IDS_LM_ENGLISH_ONLY, L"Only in English"},    // the system's loader
      {kGerman, 0x407, IDS_LM_ENGLISH_ONLY, L"Only in English"},    // German system: English explicitly
      {kGerman, 0x407, IDS_LM_ENGLISH_BLOCK, L"A block of its own"},  // a block German lacks
      {kGerman, 0x407, IDS_LM_MISSING, L""},                        // nowhere: empty, never null
      {kEnglish, 0x409, 7, L""},                                    // a block nobody has
  };
  for (const Case& c : cases) {
    const DWORD value = c.language;
    StoreRaw(REG_DWORD, &value, sizeof value);
    UIL_LANGMODULE* lm = Start(0);
    ASSERT_TRUE(SetThreadLocale(MAKELCID(c.threadLocale, SORT_DEFAULT)));
    const wchar_t* text = lm->GetLangString(c.id);
    ASSERT_NE(nullptr, text);
    EXPECT_STREQ(c.expected, text) << c.language << "/" << c.threadLocale << "/" << c.id;
  }
  // What the explicit English step makes up for: the system's loader takes the
  // German block and finds the entry empty.
  ASSERT_TRUE(SetThreadLocale(MAKELCID(0x407, SORT_DEFAULT)));
  wchar_t buf[64] = L"x";
  EXPECT_EQ(0, LoadStringW(Self(), IDS_LM_ENGLISH_ONLY, buf, 64));
  SetThreadLocale(previous);
}

INT_PTR CALLBACK NoProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

TEST_F(LangModule, LoadersFollowTheLanguageAndFallBack) {
  const DLGPROC proc = NoProc;
  UIL_LANGMODULE* lm = Start(kGerman);
  auto caption = [](HWND w) {
    wchar_t buf[64] = L"";
    GetWindowTextW(w, buf, 64);
    DestroyWindow(w);
    return std::wstring(buf);
  };
  EXPECT_EQ(L"Deutsch", caption(lm->LoadDialog(IDD_LM_BOTH, nullptr, proc)));
  EXPECT_EQ(L"English only", caption(lm->LoadDialogParam(IDD_LM_ENGLISH_ONLY, nullptr, proc, 0)));
  HMENU menu = lm->LoadLangMenu(IDM_LM_BOTH);
  ASSERT_NE(nullptr, menu);
  wchar_t item[64] = L"";
  GetMenuStringW(menu, IDM_LM_ITEM, item, 64, MF_BYCOMMAND);
  EXPECT_STREQ(L"&Schließen", item);
  DestroyMenu(menu);
}

TEST_F(LangModule, ResourceLibraryTakesTheModulesPlace) {
  UIL_LANGMODULE* lm = Start(kEnglish);
  lm->GetLangString(IDS_LM_BOTH);
  const std::wstring runtime = testutil::SelfDir() + (sizeof(void*) == 4 ? L"dovrak86.dll" : L"dovrak64.dll");
  EXPECT_TRUE(lm->LoadSourceFile(runtime.c_str()));
  EXPECT_EQ(0, lm->GetRingPosition());
  EXPECT_NE(Self(), lm->GetModule());
  EXPECT_STREQ(L"Language Settings", lm->GetLangString(IDS_UIL_SETTINGS_CAPTION));
  EXPECT_FALSE(lm->LoadSourceFile((testutil::SelfDir() + L"no-such-library.dll").c_str()));
  EXPECT_EQ(Self(), lm->GetModule());
}

TEST_F(LangModule, LanguageListSelectsTheLanguageInForce) {
  for (WORD language : {kGerman, kEnglish}) {
    const DWORD value = language;
    StoreRaw(REG_DWORD, &value, sizeof value);
    UIL_LANGMODULE* lm = Start(0);
    HWND combo = CreateWindowExW(0, L"COMBOBOX", L"", CBS_DROPDOWNLIST | CBS_SORT, 0, 0, 100, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_TRUE(lm->CreateLanguageList(combo));
    ASSERT_EQ(2, SendMessageW(combo, CB_GETCOUNT, 0, 0));
    const LRESULT sel = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    EXPECT_EQ(LRESULT(language), SendMessageW(combo, CB_GETITEMDATA, WPARAM(sel), 0));
    wchar_t text[64] = L"";
    SendMessageW(combo, CB_GETLBTEXT, WPARAM(sel), reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(language == kGerman ? L"Deutsch (Deutschland)" : L"English (USA)", text);
    DestroyWindow(combo);
  }
}

// ---- the two dialogs ------------------------------------------------------------------

HWND Combo(HWND dialog) { return GetDlgItem(dialog, IDC_UIL_LIST); }
void SelectData(HWND dialog, LPARAM data) {
  HWND combo = Combo(dialog);
  for (LRESULT i = 0; i < SendMessageW(combo, CB_GETCOUNT, 0, 0); ++i)
    if (SendMessageW(combo, CB_GETITEMDATA, WPARAM(i), 0) == data) SendMessageW(combo, CB_SETCURSEL, WPARAM(i), 0);
}
std::wstring Text(HWND w) {
  wchar_t buf[512] = L"";
  GetWindowTextW(w, buf, 512);
  return buf;
}

TEST_F(LangModule, FirstRunDialogStoresTheChoice) {
  // Init without a stored language and without a default asks the user.
  struct Start0 {
    UIL_LANGMODULE lm;
    std::wstring name;
  };
  auto start = std::make_unique<Start0>();
  start->name = name_;
  UIL_LANGMODULE* lm = &start->lm;
  testutil::ModalRun run(
      [](void* p) -> INT_PTR {
        auto s = static_cast<Start0*>(p);
        return s->lm.Init(GetModuleHandleW(nullptr), L"Language Test", s->name.c_str(), 0);
      },
      start.get());
  HWND dialog = run.NextWindow();
  ASSERT_NE(nullptr, dialog);
  EXPECT_EQ(L"Language Test", Text(dialog));
  EXPECT_EQ(2, SendMessageW(Combo(dialog), CB_GETCOUNT, 0, 0));
  SelectData(dialog, kGerman);
  SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);  // Cancel stores the selection too
  EXPECT_EQ(TRUE, run.Finish());
  EXPECT_EQ(DWORD(kGerman), Stored().second);
  EXPECT_EQ(kGerman, lm->GetLanguage());  // the choice is the language of this run
  RegCloseKey(lm->GetKey());
}

TEST_F(LangModule, SettingsDialogTellsOfTheRestartOnlyForANewLanguage) {
  UIL_LANGMODULE* lm = Start(kEnglish);
  auto runSettings = [](void* m) -> INT_PTR { return static_cast<UIL_LANGMODULE*>(m)->LanguageSettingsDialog(nullptr); };
  {
    testutil::ModalRun run(runSettings, lm);
    HWND dialog = run.NextWindow();
    ASSERT_NE(nullptr, dialog);
    // The tree's one item is the application's name.
    HWND tree = GetDlgItem(dialog, IDC_UIL_TREE);
    EXPECT_EQ(1, SendMessageW(tree, TVM_GETCOUNT, 0, 0));
    SelectData(dialog, kGerman);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    HWND box = run.NextWindow();
    ASSERT_NE(nullptr, box);
    EXPECT_EQ(L"Language Settings", Text(box));
    EXPECT_EQ(L"The new language applies fully only after the application has been restarted.",
              Text(GetDlgItem(box, 0xFFFF)));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(TRUE, run.Finish());
    EXPECT_EQ(DWORD(kGerman), Stored().second);
  }
  {
    // The language in force again: no message; Cancel stores nothing.
    testutil::ModalRun run(runSettings, lm);
    HWND dialog = run.NextWindow();
    ASSERT_NE(nullptr, dialog);
    SelectData(dialog, kEnglish);
    SendMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(TRUE, run.Finish());
    EXPECT_EQ(DWORD(kGerman), Stored().second);

    testutil::ModalRun again(runSettings, lm);
    dialog = again.NextWindow();
    ASSERT_NE(nullptr, dialog);
    SelectData(dialog, kEnglish);
    SendMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(TRUE, again.Finish());
    EXPECT_EQ(DWORD(kEnglish), Stored().second);
  }
}

// Several user-interface threads take slots at once (one per properties
// window): no advance of the position is lost and it never leaves the ring.
UIL_LANGMODULE g_shared;
volatile LONG g_wrong;
constexpr int kCalls = 5001;
DWORD WINAPI TakeSlots(LPVOID) {
  for (int i = 0; i < kCalls; ++i) {
    const wchar_t* text = g_shared.GetLangString(IDS_LM_BOTH);
    LONG pos = g_shared.GetRingPosition();
    if (pos < 0 || pos > 15 || !text) InterlockedIncrement(&g_wrong);
  }
  return 0;
}

TEST(LangModuleThreaded, RingPositionHoldsUnderThreads) {
  UIL_LANGMODULE& lm = g_shared;
  lm.Init(Self(), L"", testutil::BitnessName(L"lkuilang_threads").c_str(), kEnglish);
  constexpr int kThreads = 4;
  HANDLE threads[kThreads];
  g_wrong = 0;
  for (HANDLE& t : threads) t = CreateThread(nullptr, 0, TakeSlots, nullptr, 0, nullptr);
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (HANDLE t : threads) CloseHandle(t);
  EXPECT_EQ(0, g_wrong);
  EXPECT_EQ(LONG(kThreads * kCalls % 16), lm.GetRingPosition());
  RegCloseKey(lm.GetKey());
  RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Quenby Software\\" + testutil::BitnessName(L"lkuilang_threads")).c_str());
}

}  // namespace
