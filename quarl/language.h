// The current interface language, its storage, the pick rule for compiled-in
// text pairs, resource loaders that follow the current language, and the two
// language dialogs.
#pragma once

#include <windows.h>

#include "quarl/quarlapi.h"

namespace quarl {

// 0 means not chosen: the calling thread's locale decides.
QUARL_API DWORD GetCurrentLangID();
// Sets the current language and stores it as "LangID"; the registry status code.
QUARL_API LONG SetCurrentLangID(DWORD language);
// Reads "LangID" (anything but a 4-byte number counts as 0), makes it current and
// writes it back. TRUE when a language has been chosen (not 0).
QUARL_API BOOL LoadLangSettings();
// Stores "LangID" without changing the current language; the registry status code.
QUARL_API LONG SaveLangSettings(DWORD language);

// German when the language in force has its low three bits set (German is
// primary language 7). Only the low three bits are looked at, so other languages
// with those bits set (1039, for one) count as German too; stored settings and
// every compiled-in text pair rely on this rule as it stands.
QUARL_API BOOL IsLanguageGerman();
// English text first, German second.
QUARL_API const wchar_t* HardcodeLangString(const wchar_t* english, const wchar_t* german);

// Loaders that take the template in the current language when the module has
// it, and otherwise leave the choice of language to the system.
QUARL_API INT_PTR DialogBoxParamW(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param);
QUARL_API HWND CreateDialogParamW(HINSTANCE module, LPCWSTR name, HWND owner, DLGPROC proc, LPARAM param);
QUARL_API HMENU LoadMenuW(HINSTANCE module, LPCWSTR name);

// String `id` of the given language only (no fallback). The buffer is zeroed
// first; a longer text is cut to fit with its terminator. TRUE when found and
// not empty.
QUARL_API BOOL GetStringFromStringTable(HINSTANCE module, UINT id, WORD language, wchar_t* buffer,
                                        DWORD bufferBytes);

// Fills a combo box with the module's languages (string 1 of each names its
// language; the item data is the language identifier) and selects the current
// one, else the user's interface language, else the first.
QUARL_API BOOL CreateLanguageList(HINSTANCE module, HWND comboBox);

// The first-run choice (dialog 103): the selection becomes the current language
// and is stored. Always TRUE.
QUARL_API BOOL SelectLanguageDialog(HWND owner);
// The settings dialog (dialog 104): a chosen language is stored for the next
// start. Always TRUE.
QUARL_API BOOL LanguageSettingsDialog(HWND owner);
// The dialog procedure of both; each button ends it with the selected language.
QUARL_API INT_PTR CALLBACK DialogSelectLanguage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace quarl
