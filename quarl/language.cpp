#include "quarl/language.h"

#include <commctrl.h>

#include "quarl/appinfo.h"
#include "quarl/base/strfmt.h"
#include "quarl/regoptions.h"
#include "quarl/winhelpers.h"
#include "resources/quarl86_ids.h"

namespace quarl {

namespace {

DWORD g_currentLang = 0;

const wchar_t kLangValue[] = L"LangID";
const wchar_t kTitleFontProp[] = L"Quarl.LanguageTitleFont";
constexpr COLORREF kBandColour = 0xCB9C77;

// The template of that name and type in the current language, or null when the
// module lacks it (or no language is chosen): the caller then lets the system pick.
const void* FindInCurrentLanguage(HINSTANCE module, LPCWSTR type, LPCWSTR name) {
  if (!g_currentLang) return nullptr;
  HRSRC r = FindResourceExW(module, type, name, WORD(g_currentLang));
  if (!r) return nullptr;
  HGLOBAL g = LoadResource(module, r);
  return g ? LockResource(g) : nullptr;
}

}  // namespace

DWORD GetCurrentLangID() { return g_currentLang; }

LONG SetCurrentLangID(DWORD language) {
  g_currentLang = language;
  return regOptions.SetOptionDWORD(kLangValue, language);
}

LONG SaveLangSettings(DWORD language) { return regOptions.SetOptionDWORD(kLangValue, language); }

BOOL LoadLangSettings() {
  DWORD language = regOptions.GetOptionDWORD(kLangValue, 0);
  SetCurrentLangID(language);
  return language != 0;
}

BOOL IsLanguageGerman() {
  DWORD lang = g_currentLang ? g_currentLang : DWORD(LANGIDFROMLCID(GetThreadLocale()));
  return (lang & 7) == 7;
}

const wchar_t* HardcodeLangString(const wchar_t* english, const wchar_t* german) {
  return IsLanguageGerman() ? german : english;
}

// ---- loaders --------------------------------------------------------------------

INT_PTR DialogBoxParamW(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  auto tmpl = static_cast<LPCDLGTEMPLATEW>(FindInCurrentLanguage(module, RT_DIALOG, name));
  if (tmpl) return DialogBoxIndirectParamW(module, tmpl, owner, proc, param);
  return ::DialogBoxParamW(module, name, owner, proc, param);
}

HWND CreateDialogParamW(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  auto tmpl = static_cast<LPCDLGTEMPLATEW>(FindInCurrentLanguage(module, RT_DIALOG, name));
  if (tmpl) return CreateDialogIndirectParamW(module, tmpl, owner, proc, param);
  return ::CreateDialogParamW(module, name, owner, proc, param);
}

HMENU LoadMenuW(HINSTANCE module, LPCWSTR name) {
  const void* tmpl = FindInCurrentLanguage(module, RT_MENU, name);
  if (tmpl) return LoadMenuIndirectW(tmpl);
  return ::LoadMenuW(module, name);
}

BOOL GetStringFromStringTable(HINSTANCE module, UINT id, WORD language, wchar_t* buffer, DWORD bufferBytes) {
  if (!buffer) return FALSE;
  ZeroMemory(buffer, bufferBytes);
  if (bufferBytes < 2 * sizeof(wchar_t)) return FALSE;  // no room for one character and its terminator
  HRSRC r = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  if (!r) return FALSE;
  HGLOBAL g = LoadResource(module, r);
  auto p = static_cast<const WCHAR*>(g ? LockResource(g) : nullptr);
  if (!p) return FALSE;
  // A block is 16 counted texts one after the other; the walk stays inside the
  // resource even when the block is malformed.
  const WCHAR* end = p + SizeofResource(module, r) / sizeof(WCHAR);
  for (UINT i = 0; i < id % 16 && p < end; ++i) p += 1 + *p;
  if (p >= end || *p == 0) return FALSE;
  size_t length = *p;
  if (length > size_t(end - (p + 1))) length = size_t(end - (p + 1));
  CopyNW(buffer, CchFromBytes(bufferBytes), p + 1, length);
  return buffer[0] != 0;
}

// ---- the language list ------------------------------------------------------------

namespace {

struct LISTFILL {
  HINSTANCE module;
  HWND combo;
};

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  auto fill = reinterpret_cast<LISTFILL*>(param);
  wchar_t name[128];
  GetStringFromStringTable(fill->module, 1, language, name, sizeof name);
  LRESULT item = SendMessageW(fill->combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  if (item >= 0) SendMessageW(fill->combo, CB_SETITEMDATA, WPARAM(item), LPARAM(language));
  return TRUE;
}

void SelectByData(HWND combo, LPARAM data) {
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i)
    if (SendMessageW(combo, CB_GETITEMDATA, WPARAM(i), 0) == data) SendMessageW(combo, CB_SETCURSEL, WPARAM(i), 0);
}

}  // namespace

BOOL CreateLanguageList(HINSTANCE module, HWND comboBox) {
  LISTFILL fill = {module, comboBox};
  EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(1), AddLanguage, reinterpret_cast<LONG_PTR>(&fill));
  if (SendMessageW(comboBox, CB_GETCOUNT, 0, 0) <= 0) {
    LRESULT item = SendMessageW(comboBox, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(HardcodeLangString(L"Default", L"Standard")));
    SendMessageW(comboBox, CB_SETITEMDATA, WPARAM(item), 0);
    SendMessageW(comboBox, CB_SETCURSEL, WPARAM(item), 0);
    return TRUE;
  }
  SendMessageW(comboBox, CB_SETCURSEL, 0, 0);
  SelectByData(comboBox, LPARAM(GetUserDefaultUILanguage()));
  SelectByData(comboBox, LPARAM(g_currentLang));
  return TRUE;
}

// ---- the dialogs ------------------------------------------------------------------

namespace {

BOOL OnInitLanguageDialog(HWND dialog) {
  ::SetWindowTextW(dialog, GetAppNameFull());
  HWND owner = GetWindow(dialog, GW_OWNER);
  CenterWindow(dialog, owner ? owner : GetDesktopWindow());
  if (!IsThemeActive()) EmStaticEdge(dialog, IDC_QL_BAND);
  Embold(dialog, IDC_QL_PROMPT);
  CreateLanguageList(GetStoredInstance(), GetDlgItem(dialog, IDC_QL_LIST));
  // Owned by this dialog: deleted when the dialog goes (see WM_NCDESTROY).
  HFONT title = CreateFontW(18, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                            CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, L"Tahoma");
  if (title) {
    SetPropW(dialog, kTitleFontProp, title);
    SendDlgItemMessageW(dialog, IDC_QL_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(title), TRUE);
  }
  return TRUE;
}

INT_PTR OnHeaderColour(HDC dc, HWND control) {
  const int id = GetDlgCtrlID(control);
  if (id != IDC_QL_BAND && id != IDC_QL_TITLE && id != IDC_QL_ICON) return 0;
  SetTextColor(dc, RGB(255, 255, 255));
  SetBkColor(dc, kBandColour);
  return reinterpret_cast<INT_PTR>(GDITempStore(CreateSolidBrush(kBandColour)));
}

LPARAM SelectedLanguage(HWND dialog) {
  HWND combo = GetDlgItem(dialog, IDC_QL_LIST);
  LRESULT item = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  return item == CB_ERR ? CB_ERR : SendMessageW(combo, CB_GETITEMDATA, WPARAM(item), 0);
}

// The dialog result that no dialog or no selection gives; never a language.
constexpr INT_PTR kNoLanguage = -1;
static_assert(kNoLanguage == CB_ERR, "a missing selection and a failed dialog are told apart from no language");

}  // namespace

INT_PTR CALLBACK DialogSelectLanguage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitLanguageDialog(dialog);
    case WM_CTLCOLORSTATIC:
      return OnHeaderColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, SelectedLanguage(dialog));
        return TRUE;
      }
      return FALSE;
    case WM_NCDESTROY:
      if (HGDIOBJ font = RemovePropW(dialog, kTitleFontProp)) DeleteObject(font);
      return FALSE;
  }
  return FALSE;
}

BOOL SelectLanguageDialog(HWND owner) {
  INT_PTR language = quarl::DialogBoxParamW(GetQUARLInstance(), MAKEINTRESOURCEW(IDD_QUARL_SELECT_LANGUAGE), owner,
                                            DialogSelectLanguage, 0);
  // Whatever was selected is stored, "Default" (0) too; but a dialog that could
  // not run, or ended without a selection, chose nothing (as a number, -1 would
  // even pass the German rule).
  if (language != kNoLanguage) SetCurrentLangID(DWORD(language));
  return TRUE;
}

BOOL LanguageSettingsDialog(HWND owner) {
  INT_PTR language = quarl::DialogBoxParamW(GetQUARLInstance(), MAKEINTRESOURCEW(IDD_QUARL_LANGUAGE_SETTINGS),
                                            owner, DialogSelectLanguage, 0);
  // Cancel ends the dialog with the selection as well, which is then stored.
  if (language != 0 && language != kNoLanguage) SaveLangSettings(DWORD(language));
  return TRUE;
}

}  // namespace quarl
