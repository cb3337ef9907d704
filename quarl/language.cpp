#include "quarl/language.h"

#include <commctrl.h>

#include "quarl/appinfo.h"
#include "quarl/base/reslang.h"
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
  return base::DialogBoxOfLanguage(module, name, WORD(g_currentLang), owner, proc, param);
}

HWND CreateDialogParamW(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param) {
  return base::CreateDialogOfLanguage(module, name, WORD(g_currentLang), owner, proc, param);
}

HMENU LoadMenuW(HINSTANCE module, LPCWSTR name) { return base::LoadMenuOfLanguage(module, name, WORD(g_currentLang)); }

BOOL GetStringFromStringTable(HINSTANCE module, UINT id, WORD language, wchar_t* buffer, DWORD bufferBytes) {
  if (!buffer) return FALSE;
  if (bufferBytes < sizeof(wchar_t)) {
    ZeroMemory(buffer, bufferBytes);
    return FALSE;
  }
  return base::LoadStringOfLanguage(module, id, language, buffer, CchFromBytes(bufferBytes));
}

// ---- the language list ------------------------------------------------------------

BOOL CreateLanguageList(HINSTANCE module, HWND comboBox) {
  if (base::FillLanguageList(module, comboBox, WORD(g_currentLang)) == 0) {
    LRESULT item = SendMessageW(comboBox, CB_ADDSTRING, 0,
                                reinterpret_cast<LPARAM>(HardcodeLangString(L"Default", L"Standard")));
    SendMessageW(comboBox, CB_SETITEMDATA, WPARAM(item), 0);
    SendMessageW(comboBox, CB_SETCURSEL, WPARAM(item), 0);
  }
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
