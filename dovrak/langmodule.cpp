#include "dovrak/langmodule.h"

#include <commctrl.h>

#include "dovrak/libstart.h"
#include "dovrak/runtime.h"
#include "quarl/base/reslang.h"
#include "quarl/base/strfmt.h"
#include "resources/dovrak86_ids.h"

namespace {

constexpr WORD kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const wchar_t kLanguageValue[] = L"UILanguage";
// The only item of a list whose module names no language.
const wchar_t kDefaultItem[] = L"Standard (Default)";

// The string in the language; else what the system's loader picks; else the
// English text. The system's loader takes the block of the thread's language
// whenever the module has one, and a block that lacks the entry then gives an
// empty text: on a German system a text that only the English table has would
// be lost without the last step.
void LoadWithFallback(HINSTANCE module, UINT id, WORD language, wchar_t* out, size_t cch) {
  wchar_t found[512];
  quarl::base::LoadStringOfLanguage(module, id, language, found, 512);
  quarl::CopyW(out, cch, found);
  if (!out[0]) LoadStringW(module, id, out, int(cch));
  if (!out[0] && language != kEnglish) quarl::base::LoadStringOfLanguage(module, id, kEnglish, out, cch);
}

LPARAM SelectedLanguage(HWND dialog) {
  HWND combo = GetDlgItem(dialog, IDC_UIL_LIST);
  LRESULT item = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  return item == CB_ERR ? CB_ERR : SendMessageW(combo, CB_GETITEMDATA, WPARAM(item), 0);
}

void FillList(UIL_LANGMODULE* lm, HWND dialog) {
  HWND combo = GetDlgItem(dialog, IDC_UIL_LIST);
  lm->CreateLanguageList(combo);
  if (SendMessageW(combo, CB_GETCOUNT, 0, 0) > 0) return;
  LRESULT item = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(kDefaultItem));
  SendMessageW(combo, CB_SETITEMDATA, WPARAM(item), 0);
  SendMessageW(combo, CB_SETCURSEL, WPARAM(item), 0);
}

// The dialog's module object, kept from WM_INITDIALOG on; a dialog opened
// without one reports the internal error and ends.
UIL_LANGMODULE* TakeModule(HWND dialog, UINT message, LPARAM lParam) {
  if (message != WM_INITDIALOG) return reinterpret_cast<UIL_LANGMODULE*>(GetWindowLongPtrW(dialog, DWLP_USER));
  auto lm = reinterpret_cast<UIL_LANGMODULE*>(lParam);
  if (!lm) {
    BRVT_ReportInternalError();
    EndDialog(dialog, 0);
    return nullptr;
  }
  SetWindowLongPtrW(dialog, DWLP_USER, lParam);
  if (lm->GetApplicationName()[0]) SetWindowTextW(dialog, lm->GetApplicationName());
  FillList(lm, dialog);
  return lm;
}

INT_PTR CALLBACK SelectLanguageProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  UIL_LANGMODULE* lm = TakeModule(dialog, message, lParam);
  if (message == WM_INITDIALOG) return TRUE;
  if (!lm || message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) != IDOK && LOWORD(wParam) != IDCANCEL) return FALSE;
  // Both buttons take the selection; without one nothing is stored.
  LPARAM chosen = SelectedLanguage(dialog);
  if (chosen != CB_ERR) lm->SelectLanguage(DWORD(chosen));
  EndDialog(dialog, LOWORD(wParam));
  return TRUE;
}

INT_PTR CALLBACK LanguageSettingsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  UIL_LANGMODULE* lm = TakeModule(dialog, message, lParam);
  if (message == WM_INITDIALOG) {
    if (!lm) return TRUE;
    SendDlgItemMessageW(dialog, IDC_UIL_HEADING, WM_SETFONT, reinterpret_cast<WPARAM>(BRVT_hFontBold), TRUE);
    TVINSERTSTRUCTW tvi = {};
    tvi.hParent = TVI_ROOT;
    tvi.hInsertAfter = TVI_LAST;
    tvi.item.mask = TVIF_TEXT;
    tvi.item.pszText = const_cast<wchar_t*>(lm->GetApplicationName());
    HWND tree = GetDlgItem(dialog, IDC_UIL_TREE);
    auto root = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&tvi)));
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(root));
    return TRUE;
  }
  if (!lm || message != WM_COMMAND) return FALSE;
  switch (LOWORD(wParam)) {
    case IDOK: {
      LPARAM chosen = SelectedLanguage(dialog);
      if (chosen != CB_ERR) {
        if (DWORD(chosen) != lm->GetLanguage()) {
          wchar_t text[512], caption[256];
          LoadWithFallback(g_brvtModule, IDS_UIL_RESTART, lm->GetLanguage(), text, 512);
          LoadWithFallback(g_brvtModule, IDS_UIL_SETTINGS_CAPTION, lm->GetLanguage(), caption, 256);
          MessageBoxW(dialog, text, caption, MB_OK | MB_ICONINFORMATION);
        }
        lm->SelectLanguage(DWORD(chosen));
      }
      EndDialog(dialog, IDOK);
      return TRUE;
    }
    case IDCANCEL:
      EndDialog(dialog, IDCANCEL);
      return TRUE;
  }
  return FALSE;
}

}  // namespace

UIL_LANGMODULE::UIL_LANGMODULE() : appName{}, language(0), ringPos(0), module(nullptr), langKey(nullptr) {
  registryName[0] = 0;
}

BOOL UIL_LANGMODULE::Init(HINSTANCE resourceModule, const wchar_t* applicationName, const wchar_t* regName,
                          DWORD defaultLanguage) {
  module = resourceModule;
  language = WORD(defaultLanguage);
  quarl::CopyW(appName, 512, applicationName ? applicationName : L"");
  quarl::CopyW(registryName, 512, regName ? regName : L"");
  wchar_t path[600];
  quarl::FormatW(path, 600, L"Software\\Quenby Software\\%s\\UILang", registryName);
  langKey = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &langKey, nullptr);

  if (langKey && RegQueryValueExW(langKey, kLanguageValue, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    if (defaultLanguage)
      SelectLanguage(defaultLanguage);
    else
      SelectLanguageDialog(nullptr);
  }
  DWORD type = 0, value = 0, size = sizeof value;
  if (!langKey ||
      RegQueryValueExW(langKey, kLanguageValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
          ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value)
    value = 0;
  language = LOWORD(value);
  return TRUE;
}

BOOL UIL_LANGMODULE::LoadSourceFile(const wchar_t* path) {
  HMODULE library = path ? LoadLibraryW(path) : nullptr;
  if (!library) {
    module = GetModuleHandleW(nullptr);
    return FALSE;
  }
  module = library;
  InterlockedExchange(&ringPos, 0);
  return TRUE;
}

const wchar_t* UIL_LANGMODULE::GetLangString(UINT id) {
  LONG slot, next;
  do {
    slot = ringPos;
    next = (slot + 1) & (kRingSlots - 1);
  } while (InterlockedCompareExchange(&ringPos, next, slot) != slot);
  wchar_t* text = ring[slot & (kRingSlots - 1)];
  text[0] = 0;
  LoadWithFallback(module, id, language, text, kSlotChars);
  return text;
}

HMENU UIL_LANGMODULE::LoadLangMenu(UINT id) {
  return quarl::base::LoadMenuOfLanguage(module, MAKEINTRESOURCEW(id), language);
}

HWND UIL_LANGMODULE::LoadDialog(UINT id, HWND owner, DLGPROC proc) { return LoadDialogParam(id, owner, proc, 0); }

HWND UIL_LANGMODULE::LoadDialogParam(UINT id, HWND owner, DLGPROC proc, LPARAM param) {
  return quarl::base::CreateDialogOfLanguage(module, MAKEINTRESOURCEW(id), language, owner, proc, param);
}

INT_PTR UIL_LANGMODULE::ShowDialog(UINT id, HWND owner, DLGPROC proc) { return ShowDialogParam(id, owner, proc, 0); }

INT_PTR UIL_LANGMODULE::ShowDialogParam(UINT id, HWND owner, DLGPROC proc, LPARAM param) {
  return quarl::base::DialogBoxOfLanguage(module, MAKEINTRESOURCEW(id), language, owner, proc, param);
}

BOOL UIL_LANGMODULE::CreateLanguageList(HWND comboBox) {
  quarl::base::FillLanguageList(module, comboBox, language);
  return TRUE;
}

BOOL UIL_LANGMODULE::SelectLanguage(DWORD chosen) {
  DWORD value = LOWORD(chosen);
  if (langKey) RegSetValueExW(langKey, kLanguageValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  return TRUE;
}

BOOL UIL_LANGMODULE::SelectLanguageDialog(HWND owner) {
  quarl::base::DialogBoxOfLanguage(g_brvtModule, MAKEINTRESOURCEW(IDD_UIL_SELECT_LANGUAGE), language, owner,
                                   SelectLanguageProc, reinterpret_cast<LPARAM>(this));
  return TRUE;
}

BOOL UIL_LANGMODULE::LanguageSettingsDialog(HWND owner) {
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_TREEVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  quarl::base::DialogBoxOfLanguage(g_brvtModule, MAKEINTRESOURCEW(IDD_UIL_LANGUAGE_SETTINGS), language, owner,
                                   LanguageSettingsProc, reinterpret_cast<LPARAM>(this));
  return TRUE;
}
