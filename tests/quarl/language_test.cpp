#include "quarl/language.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "quarl/appinfo.h"
#include "quarl/base/strfmt.h"
#include "quarl/regoptions.h"
#include "resources/quarl86_ids.h"
#include "tests/common/testutil.h"
#include "tests/quarl/language_fixture.h"

namespace {

constexpr WORD kGerman = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);    // 1031
constexpr WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);  // 1033

HINSTANCE Self() { return GetModuleHandleW(nullptr); }

// The option store on a key of this test program's own; the current language
// back at 0 afterwards.
class Language : public testing::Test {
 protected:
  void SetUp() override {
    path_ = L"Software\\Quenby Software\\" + testutil::BitnessName(L"lklanguage");
    RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
    ASSERT_TRUE(regOptions.Init(HKEY_CURRENT_USER, path_.c_str()));
  }
  void TearDown() override {
    quarl::SetCurrentLangID(0);
    RegCloseKey(regOptions.GetKey());
    RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
  }
  void StoreRaw(DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetValueExW(regOptions.GetKey(), L"LangID", 0, type, static_cast<const BYTE*>(data), bytes));
  }
  // The stored "LangID" as (type, number); type 0 when it is missing.
  std::pair<DWORD, DWORD> Stored() {
    DWORD type = 0, value = 0, size = sizeof value;
    if (RegQueryValueExW(regOptions.GetKey(), L"LangID", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
      return {0, 0};
    return {type, value};
  }
  std::wstring path_;
};

TEST_F(Language, GermanRuleTable) {
  const LCID previous = GetThreadLocale();
  struct Case {
    DWORD current;
    LANGID threadLocale;
    bool german;
  } cases[] = {
      {0, 0x407, true},    {0, 0x409, false},    // no choice: the thread locale decides
      {1031, 0x409, true}, {1033, 0x407, false},  // a choice wins over the locale
      {1039, 0x409, true},                        // low three bits 111: counts as German
  };
  const wchar_t* en = L"English";
  const wchar_t* de = L"Deutsch";
  for (const Case& c : cases) {
    ASSERT_TRUE(SetThreadLocale(MAKELCID(c.threadLocale, SORT_DEFAULT)));
    quarl::SetCurrentLangID(c.current);
    EXPECT_EQ(c.german, bool(quarl::IsLanguageGerman())) << c.current << "/" << c.threadLocale;
    EXPECT_EQ(c.german ? de : en, quarl::HardcodeLangString(en, de)) << c.current << "/" << c.threadLocale;
  }
  SetThreadLocale(previous);
}

TEST_F(Language, LoadTakesOnlyAFourByteNumber) {
  const BYTE twoBytes[2] = {0x07, 0x04};  // 1031 as a 2-byte binary value
  quarl::SetCurrentLangID(1033);
  StoreRaw(REG_BINARY, twoBytes, sizeof twoBytes);
  EXPECT_FALSE(quarl::LoadLangSettings());
  EXPECT_EQ(0u, quarl::GetCurrentLangID());
  EXPECT_EQ(std::make_pair(DWORD(REG_DWORD), DWORD(0)), Stored());  // rewritten as the number 0

  RegDeleteValueW(regOptions.GetKey(), L"LangID");
  EXPECT_FALSE(quarl::LoadLangSettings());
  EXPECT_EQ(std::make_pair(DWORD(REG_DWORD), DWORD(0)), Stored());

  const DWORD german = 1031;
  StoreRaw(REG_DWORD, &german, sizeof german);
  EXPECT_TRUE(quarl::LoadLangSettings());
  EXPECT_EQ(1031u, quarl::GetCurrentLangID());
}

TEST_F(Language, SaveKeepsTheCurrentLanguage) {
  EXPECT_EQ(ERROR_SUCCESS, quarl::SetCurrentLangID(1031));
  EXPECT_EQ(ERROR_SUCCESS, quarl::SaveLangSettings(1033));
  EXPECT_EQ(1031u, quarl::GetCurrentLangID());
  EXPECT_EQ(std::make_pair(DWORD(REG_DWORD), DWORD(1033)), Stored());
}

TEST(LanguageStrings, LookupInOneLanguageOnly) {
  wchar_t buf[64];
  wmemset(buf, L'x', 64);
  EXPECT_FALSE(quarl::GetStringFromStringTable(Self(), IDS_FX_ENGLISH_ONLY, kGerman, buf, sizeof buf));
  for (wchar_t c : buf) ASSERT_EQ(L'\0', c);  // zeroed, no fallback to English
  EXPECT_TRUE(quarl::GetStringFromStringTable(Self(), IDS_FX_ENGLISH_ONLY, kEnglish, buf, sizeof buf));
  EXPECT_STREQ(L"Only in English", buf);
  EXPECT_TRUE(quarl::GetStringFromStringTable(Self(), IDS_FX_LAST, kEnglish, buf, sizeof buf));
  EXPECT_STREQ(L"Last of its block", buf);
  // An id inside the block that has no text, and a block the module lacks.
  EXPECT_FALSE(quarl::GetStringFromStringTable(Self(), IDS_FX_MISSING, kEnglish, buf, sizeof buf));
  EXPECT_STREQ(L"", buf);
  EXPECT_FALSE(quarl::GetStringFromStringTable(Self(), 2000, kEnglish, buf, sizeof buf));
  EXPECT_FALSE(quarl::GetStringFromStringTable(Self(), IDS_FX_ENGLISH_ONLY, kEnglish, nullptr, 64));
}

TEST(LanguageStrings, LongTextIsCutWithItsTerminator) {
  struct Case {
    DWORD bytes;
    const wchar_t* want;
    bool found;
  } cases[] = {
      {18, L"abcdefgh", true},  // exact fit: 8 characters and the terminator
      {16, L"abcdefg", true},   // one short
      {7, L"ab", true},         // an odd byte count holds whole characters only
      {2, L"", false},          // room for the terminator alone
  };
  for (const Case& c : cases) {
    wchar_t buf[16];
    wmemset(buf, L'x', 16);
    EXPECT_EQ(c.found, bool(quarl::GetStringFromStringTable(Self(), IDS_FX_LONG, kEnglish, buf, c.bytes)))
        << c.bytes;
    EXPECT_STREQ(c.want, buf) << c.bytes;
    EXPECT_EQ(L'x', buf[(c.bytes + 1) / 2]) << c.bytes;  // nothing written past the buffer
  }
}

struct Combo {
  HWND w = CreateWindowExW(0, WC_COMBOBOXW, L"", WS_POPUP | CBS_DROPDOWNLIST | CBS_SORT, 0, 0, 200, 200, nullptr,
                           nullptr, nullptr, nullptr);
  ~Combo() { DestroyWindow(w); }
  std::vector<std::pair<std::wstring, LPARAM>> Items() const {
    std::vector<std::pair<std::wstring, LPARAM>> items;
    for (LRESULT i = 0, n = SendMessageW(w, CB_GETCOUNT, 0, 0); i < n; ++i) {
      wchar_t text[128] = L"";
      SendMessageW(w, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
      items.emplace_back(text, SendMessageW(w, CB_GETITEMDATA, WPARAM(i), 0));
    }
    return items;
  }
  LPARAM Selected() const { return SendMessageW(w, CB_GETITEMDATA, SendMessageW(w, CB_GETCURSEL, 0, 0), 0); }
};

TEST_F(Language, ListHasEveryLanguageAndSelectsTheCurrentOne) {
  const std::vector<std::pair<std::wstring, LPARAM>> both = {{L"Deutsch (Deutschland)", kGerman},
                                                             {L"English (USA)", kEnglish}};
  for (DWORD current : {DWORD(kGerman), DWORD(kEnglish)}) {
    quarl::SetCurrentLangID(current);
    Combo combo;
    EXPECT_TRUE(quarl::CreateLanguageList(Self(), combo.w));
    EXPECT_EQ(both, combo.Items());
    EXPECT_EQ(LPARAM(current), combo.Selected());
  }
  // No choice yet: the user's interface language when the module has it.
  quarl::SetCurrentLangID(0);
  Combo combo;
  quarl::CreateLanguageList(Self(), combo.w);
  const LANGID ui = GetUserDefaultUILanguage();
  EXPECT_EQ(ui == kGerman || ui == kEnglish ? LPARAM(ui) : LPARAM(kGerman), combo.Selected());
}

TEST_F(Language, ListOfAModuleWithoutLanguagesHasTheDefault) {
  // The runtime library has no string table.
  for (auto [current, text] : {std::pair<DWORD, const wchar_t*>{1031, L"Standard"}, {1033, L"Default"}}) {
    quarl::SetCurrentLangID(current);
    Combo combo;
    quarl::CreateLanguageList(quarl::GetQUARLInstance(), combo.w);
    EXPECT_EQ((std::vector<std::pair<std::wstring, LPARAM>>{{text, 0}}), combo.Items());
    EXPECT_EQ(0, SendMessageW(combo.w, CB_GETCURSEL, 0, 0));
  }
}

INT_PTR CALLBACK PlainProc(HWND, UINT m, WPARAM, LPARAM) { return m == WM_INITDIALOG; }

std::wstring Caption(HWND w) {
  wchar_t text[64] = L"";
  GetWindowTextW(w, text, 64);
  return text;
}

TEST_F(Language, LoadersFollowTheCurrentLanguage) {
  struct Case {
    DWORD current;
    const wchar_t* both;
    const wchar_t* menu;
  } cases[] = {{1031, L"Deutsch", L"&Schließen"}, {1033, L"English", L"&Close"}};
  for (const Case& c : cases) {
    quarl::SetCurrentLangID(c.current);
    HWND both = quarl::CreateDialogParamW(Self(), MAKEINTRESOURCEW(IDD_FX_BOTH), nullptr, PlainProc, 0);
    EXPECT_EQ(c.both, Caption(both));
    DestroyWindow(both);
    // Missing in German: the system's own choice.
    HWND english = quarl::CreateDialogParamW(Self(), MAKEINTRESOURCEW(IDD_FX_ENGLISH_ONLY), nullptr, PlainProc, 0);
    EXPECT_EQ(L"English only", Caption(english));
    DestroyWindow(english);
    HMENU menu = quarl::LoadMenuW(Self(), MAKEINTRESOURCEW(IDM_FX_BOTH));
    wchar_t item[64] = L"";
    GetMenuStringW(menu, IDM_FX_ITEM, item, 64, MF_BYCOMMAND);
    EXPECT_STREQ(c.menu, item);
    DestroyMenu(menu);
  }
}

// ---- the dialogs, driven on a thread of their own --------------------------------

struct DialogRun {
  BOOL (*show)(HWND);
  HANDLE shown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HWND dialog = nullptr;
  HFONT titleFont = nullptr;
  HANDLE thread = nullptr;

  static thread_local DialogRun* current;
  static LRESULT CALLBACK Cbt(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE && current && !current->dialog) {
      current->dialog = reinterpret_cast<HWND>(wp);
      current->titleFont =
          reinterpret_cast<HFONT>(SendDlgItemMessageW(current->dialog, IDC_QL_TITLE, WM_GETFONT, 0, 0));
      SetEvent(current->shown);
    }
    return CallNextHookEx(nullptr, code, wp, lp);
  }
  static DWORD WINAPI Run(LPVOID p) {
    auto self = static_cast<DialogRun*>(p);
    current = self;
    HHOOK hook = SetWindowsHookExW(WH_CBT, Cbt, nullptr, GetCurrentThreadId());
    self->show(nullptr);
    UnhookWindowsHookEx(hook);
    SetEvent(self->shown);  // also when no dialog could be shown
    return 0;
  }
  explicit DialogRun(BOOL (*fn)(HWND)) : show(fn) {
    thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
  }
  bool WaitShown() { return WaitForSingleObject(shown, 10000) == WAIT_OBJECT_0 && dialog; }
  void SelectData(LPARAM data) {
    HWND combo = GetDlgItem(dialog, IDC_QL_LIST);
    SendMessageW(combo, CB_SETCURSEL, WPARAM(-1), 0);
    for (LRESULT i = 0, n = SendMessageW(combo, CB_GETCOUNT, 0, 0); i < n; ++i)
      if (SendMessageW(combo, CB_GETITEMDATA, WPARAM(i), 0) == data) SendMessageW(combo, CB_SETCURSEL, WPARAM(i), 0);
  }
  void Press(int button) { PostMessageW(dialog, WM_COMMAND, WPARAM(button), 0); }
  bool Finish() {
    bool ended = WaitForSingleObject(thread, 10000) == WAIT_OBJECT_0;
    CloseHandle(thread);
    CloseHandle(shown);
    return ended;
  }
};
thread_local DialogRun* DialogRun::current;

class LanguageDialog : public Language {
 protected:
  void SetUp() override {
    Language::SetUp();
    quarl::CopyW(previousName_, 256, quarl::GetAppNameFull());
    previousInstance_ = quarl::GetStoredInstance();
    quarl::SetAppNameFull(L"Quenby Fixture 1");
    quarl::SetStoredInstance(Self());
  }
  void TearDown() override {
    quarl::SetAppNameFull(previousName_);
    quarl::SetStoredInstance(previousInstance_);
    Language::TearDown();
  }
  wchar_t previousName_[256] = L"";
  HINSTANCE previousInstance_ = nullptr;
};

TEST_F(LanguageDialog, FirstRunChoiceBecomesCurrentAndIsStored) {
  DialogRun run(quarl::SelectLanguageDialog);
  ASSERT_TRUE(run.WaitShown());
  EXPECT_EQ(L"Quenby Fixture 1", Caption(run.dialog));
  EXPECT_EQ(2, SendDlgItemMessageW(run.dialog, IDC_QL_LIST, CB_GETCOUNT, 0, 0));
  EXPECT_EQ(nullptr, GetDlgItem(run.dialog, IDCANCEL));  // one "next" button only
  // The header band's colour.
  HDC dc = GetDC(run.dialog);
  auto brush = reinterpret_cast<HBRUSH>(
      SendMessageW(run.dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                   reinterpret_cast<LPARAM>(GetDlgItem(run.dialog, IDC_QL_BAND))));
  ReleaseDC(run.dialog, dc);
  LOGBRUSH lb = {};
  ASSERT_TRUE(GetObjectW(brush, sizeof lb, &lb));
  EXPECT_EQ(COLORREF(0xCB9C77), lb.lbColor);
  ASSERT_NE(nullptr, run.titleFont);
  EXPECT_EQ(DWORD(OBJ_FONT), GetObjectType(run.titleFont));

  run.SelectData(kGerman);
  run.Press(IDOK);
  ASSERT_TRUE(run.Finish());
  EXPECT_EQ(1031u, quarl::GetCurrentLangID());
  EXPECT_EQ(std::make_pair(DWORD(REG_DWORD), DWORD(1031)), Stored());
  EXPECT_EQ(0u, GetObjectType(run.titleFont));  // the dialog's own font went with it
}

TEST_F(LanguageDialog, SettingsStoreTheSelectionForTheNextStart) {
  quarl::SetCurrentLangID(kGerman);
  DialogRun run(quarl::LanguageSettingsDialog);
  ASSERT_TRUE(run.WaitShown());
  EXPECT_EQ(LPARAM(kGerman), SendDlgItemMessageW(run.dialog, IDC_QL_LIST, CB_GETITEMDATA,
                                                 SendDlgItemMessageW(run.dialog, IDC_QL_LIST, CB_GETCURSEL, 0, 0),
                                                 0));
  run.SelectData(kEnglish);
  run.Press(IDCANCEL);  // Cancel, too, ends with the selection, which is stored
  ASSERT_TRUE(run.Finish());
  EXPECT_EQ(1031u, quarl::GetCurrentLangID());
  EXPECT_EQ(std::make_pair(DWORD(REG_DWORD), DWORD(1033)), Stored());
}

TEST_F(LanguageDialog, NoSelectionIsNeverStoredAsALanguage) {
  for (BOOL (*show)(HWND) : {quarl::SelectLanguageDialog, quarl::LanguageSettingsDialog}) {
    quarl::SetCurrentLangID(kEnglish);
    RegDeleteValueW(regOptions.GetKey(), L"LangID");
    DialogRun run(show);
    ASSERT_TRUE(run.WaitShown());
    run.SelectData(-2);  // nothing selected: the dialog ends with CB_ERR
    run.Press(IDOK);
    ASSERT_TRUE(run.Finish());
    EXPECT_EQ(1033u, quarl::GetCurrentLangID());
    EXPECT_EQ(std::make_pair(DWORD(0), DWORD(0)), Stored());
  }
}

TEST(LanguageResources, BothDialogsInBothLanguages) {
  for (WORD lang : {kGerman, kEnglish})
    for (int id : {IDD_QUARL_SELECT_LANGUAGE, IDD_QUARL_LANGUAGE_SETTINGS})
      EXPECT_NE(nullptr, FindResourceExW(quarl::GetQUARLInstance(), RT_DIALOG, MAKEINTRESOURCEW(id), lang))
          << lang << " " << id;
  EXPECT_NE(nullptr, FindResourceW(quarl::GetQUARLInstance(), MAKEINTRESOURCEW(IDI_QUARL_LANGUAGE), RT_GROUP_ICON));
}

}  // namespace
