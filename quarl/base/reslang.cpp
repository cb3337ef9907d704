#include "quarl/base/reslang.h"

#include "quarl/base/strfmt.h"

namespace quarl::base {

bool FindBlockEntry(const WCHAR* block, size_t blockChars, UINT index, const WCHAR** text, size_t* length) {
  *text = nullptr;
  *length = 0;
  if (!block || index > 15) return false;
  size_t at = 0;
  for (UINT i = 0; i < index && at < blockChars; ++i) at += 1 + size_t(block[at]);
  if (at >= blockChars || block[at] == 0) return false;
  const size_t available = blockChars - (at + 1);
  *text = block + at + 1;
  *length = block[at] < available ? size_t(block[at]) : available;
  return *length != 0;
}

bool LoadStringOfLanguage(HINSTANCE module, UINT id, WORD language, wchar_t* buffer, size_t cch) {
  if (!buffer || cch == 0) return false;
  ZeroMemory(buffer, cch * sizeof(wchar_t));
  if (cch < 2) return false;  // no room for one character and its terminator
  HRSRC r = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  if (!r) return false;
  HGLOBAL g = LoadResource(module, r);
  auto block = static_cast<const WCHAR*>(g ? LockResource(g) : nullptr);
  const WCHAR* text;
  size_t length;
  if (!FindBlockEntry(block, SizeofResource(module, r) / sizeof(WCHAR), id % 16, &text, &length)) return false;
  CopyNW(buffer, cch, text, length);
  return buffer[0] != 0;
}

const void* FindTemplateOfLanguage(HINSTANCE module, LPCWSTR type, LPCWSTR name, WORD language) {
  if (!language) return nullptr;
  HRSRC r = FindResourceExW(module, type, name, language);
  if (!r) return nullptr;
  HGLOBAL g = LoadResource(module, r);
  return g ? LockResource(g) : nullptr;
}

INT_PTR DialogBoxOfLanguage(HINSTANCE module, LPCWSTR name, WORD language, HWND owner, DLGPROC proc, LPARAM param) {
  auto tmpl = static_cast<LPCDLGTEMPLATEW>(FindTemplateOfLanguage(module, RT_DIALOG, name, language));
  if (tmpl) return DialogBoxIndirectParamW(module, tmpl, owner, proc, param);
  return ::DialogBoxParamW(module, name, owner, proc, param);
}

HWND CreateDialogOfLanguage(HINSTANCE module, LPCWSTR name, WORD language, HWND owner, DLGPROC proc, LPARAM param) {
  auto tmpl = static_cast<LPCDLGTEMPLATEW>(FindTemplateOfLanguage(module, RT_DIALOG, name, language));
  if (tmpl) return CreateDialogIndirectParamW(module, tmpl, owner, proc, param);
  return ::CreateDialogParamW(module, name, owner, proc, param);
}

HMENU LoadMenuOfLanguage(HINSTANCE module, LPCWSTR name, WORD language) {
  const void* tmpl = FindTemplateOfLanguage(module, RT_MENU, name, language);
  if (tmpl) return LoadMenuIndirectW(tmpl);
  return ::LoadMenuW(module, name);
}

namespace {

struct LISTFILL {
  HINSTANCE module;
  HWND combo;
  int added;
};

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR param) {
  auto fill = reinterpret_cast<LISTFILL*>(param);
  wchar_t name[128];
  LoadStringOfLanguage(fill->module, 1, language, name, 128);
  LRESULT item = SendMessageW(fill->combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
  if (item >= 0) {
    SendMessageW(fill->combo, CB_SETITEMDATA, WPARAM(item), LPARAM(language));
    ++fill->added;
  }
  return TRUE;
}

void SelectByData(HWND combo, LPARAM data) {
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i)
    if (SendMessageW(combo, CB_GETITEMDATA, WPARAM(i), 0) == data) SendMessageW(combo, CB_SETCURSEL, WPARAM(i), 0);
}

}  // namespace

int FillLanguageList(HINSTANCE module, HWND comboBox, WORD current) {
  LISTFILL fill = {module, comboBox, 0};
  EnumResourceLanguagesW(module, RT_STRING, MAKEINTRESOURCEW(1), AddLanguage, reinterpret_cast<LONG_PTR>(&fill));
  if (fill.added == 0) return 0;
  SendMessageW(comboBox, CB_SETCURSEL, 0, 0);
  SelectByData(comboBox, LPARAM(GetUserDefaultUILanguage()));
  SelectByData(comboBox, LPARAM(current));
  return fill.added;
}

}  // namespace quarl::base
