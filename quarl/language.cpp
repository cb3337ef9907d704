#include "quarl/language.h"

namespace quarl {

static DWORD g_currentLang = 0;

DWORD GetCurrentLangID() { return g_currentLang; }

BOOL IsLanguageGerman() {
  DWORD lang = g_currentLang ? g_currentLang : DWORD(LANGIDFROMLCID(GetThreadLocale()));
  return (lang & 7) == 7;
}

const wchar_t* HardcodeLangString(const wchar_t* english, const wchar_t* german) {
  return IsLanguageGerman() ? german : english;
}

}  // namespace quarl
