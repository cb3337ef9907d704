// Resources of one language: the string-block walk, string lookup in one
// language only, language-aware dialog and menu loaders, and the list of a
// module's languages. Both runtimes build their language engines on these (the
// compatibility runtime links nothing of ours but this static library).
#pragma once

#include <windows.h>

#include <cstddef>

namespace quarl::base {

// One entry of a string block: the block is 16 counted texts one after the
// other (a length word, then that many characters, no terminator). Finds entry
// `index` (0..15) inside `blockChars` characters. Never reads past the block: a
// length that runs over the end gives the characters that are there. True when
// the entry exists and is not empty.
bool FindBlockEntry(const WCHAR* block, size_t blockChars, UINT index, const WCHAR** text, size_t* length);

// String `id` of that language only (no fallback), into buffer of cch characters.
// The buffer is zeroed first; a longer text is cut with its terminator. True when
// found and not empty.
bool LoadStringOfLanguage(HINSTANCE module, UINT id, WORD language, wchar_t* buffer, size_t cch);

// The template of that type and name in that language, or null when the module
// lacks it or the language is 0 (the caller then lets the system pick).
const void* FindTemplateOfLanguage(HINSTANCE module, LPCWSTR type, LPCWSTR name, WORD language);

// The template in the language when the module has it, else the system's loading
// of the name. Results are those of the system calls.
INT_PTR DialogBoxOfLanguage(HINSTANCE module, LPCWSTR name, WORD language, HWND owner, DLGPROC proc, LPARAM param);
HWND CreateDialogOfLanguage(HINSTANCE module, LPCWSTR name, WORD language, HWND owner, DLGPROC proc, LPARAM param);
HMENU LoadMenuOfLanguage(HINSTANCE module, LPCWSTR name, WORD language);

// Adds one combo item per language in which the module has string block 1 (its
// string 1, the language's own name; item data the language identifier), then
// selects the first item, the user's interface language and `current` in turn
// (the last one present wins). Returns the number of items added.
int FillLanguageList(HINSTANCE module, HWND comboBox, WORD current);

}  // namespace quarl::base
