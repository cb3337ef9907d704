// The compatibility runtime's language engine: a resource module bound to a
// language of its own (stored as "UILanguage"), and loaders of strings, dialogs
// and menus in that language with the system's choice as fallback.
#pragma once

#include <windows.h>

#include "dovrak/dovrakapi.h"

class BRVT_API UIL_LANGMODULE {
 public:
  static constexpr int kRingSlots = 16;
  static constexpr int kSlotChars = 1024;

  // No key; the application name cleared.
  UIL_LANGMODULE();

  // Binds the module, copies the names (cut to 511 characters) and opens
  // "Software\Quenby Software\<registryName>\UILang". Without a stored
  // "UILanguage" a nonzero default is stored, a default of 0 asks the user
  // (dialog 1015). The stored language is the one in force from then on. TRUE.
  BOOL Init(HINSTANCE module, const wchar_t* applicationName, const wchar_t* registryName, DWORD defaultLanguage);
  // A resource library takes the module's place (TRUE); when it cannot be
  // loaded the program's own file does (FALSE). The library stays loaded.
  BOOL LoadSourceFile(const wchar_t* path);

  // String `id` in the language, else the system's choice, else English; an
  // empty text when the module lacks it. The text lives in one of 16 slots and
  // stays valid for 16 further calls (from any thread).
  const wchar_t* GetLangString(UINT id);
  HMENU LoadLangMenu(UINT id);
  HWND LoadDialog(UINT id, HWND owner, DLGPROC proc);
  HWND LoadDialogParam(UINT id, HWND owner, DLGPROC proc, LPARAM param);
  INT_PTR ShowDialog(UINT id, HWND owner, DLGPROC proc);
  INT_PTR ShowDialogParam(UINT id, HWND owner, DLGPROC proc, LPARAM param);

  // The module's languages (string 1 of each, with the language as item data);
  // the first, then the user's interface language, then the one in force is
  // selected, as far as present. TRUE.
  BOOL CreateLanguageList(HWND comboBox);
  // Stores the language for the next start; the one in force stays. TRUE.
  BOOL SelectLanguage(DWORD language);
  // The first-run choice (dialog 1015) and the settings (dialog 1045) of the
  // runtime's own resources. TRUE.
  BOOL SelectLanguageDialog(HWND owner);
  BOOL LanguageSettingsDialog(HWND owner);

  WORD GetLanguage() const { return language; }
  HINSTANCE GetModule() const { return module; }
  const wchar_t* GetApplicationName() const { return appName; }
  HKEY GetKey() const { return langKey; }
  // The slot the next GetLangString takes, 0..15.
  LONG GetRingPosition() const { return ringPos; }

 private:
  wchar_t appName[512];
  wchar_t registryName[512];
  WORD language;
  wchar_t ring[kRingSlots][kSlotChars];
  LONG ringPos;  // claimed atomically: every properties window has its own thread
  HINSTANCE module;
  HKEY langKey;
};
