// Every program and library of the build speaks both languages: each string,
// dialog and menu exists in German (1031) and English (1033), and each pair of
// texts carries the same format codes in the same order.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "quarl/base/reslang.h"
#include "tests/common/testutil.h"

namespace {

constexpr WORD kGerman = 1031, kEnglish = 1033;

// The format codes of a text in order ("%s", "%.2i", "%I64u" ...), "%%" left out.
std::vector<std::wstring> FormatCodes(const std::wstring& text) {
  std::vector<std::wstring> codes;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'%') continue;
    if (i + 1 < text.size() && text[i + 1] == L'%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < text.size() && wcschr(L"-+ #0123456789.*hlLIwz", text[j])) ++j;
    codes.push_back(text.substr(i, j + 1 - i));
    i = j;
  }
  return codes;
}

TEST(FormatCodeScan, Table) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ((V{L"%d"}), FormatCodes(L"%d Days "));
  EXPECT_EQ((V{L"%s", L"%.2i", L"%I64u"}), FormatCodes(L"a %s b %.2i%% c %I64u"));
  EXPECT_EQ(V{}, FormatCodes(L"100%% sure"));
}

struct NAMES {
  std::vector<std::wstring> names;
};
std::wstring NameText(LPCWSTR name) {
  return IS_INTRESOURCE(name) ? std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : std::wstring(name);
}
BOOL CALLBACK AddName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR p) {
  reinterpret_cast<NAMES*>(p)->names.push_back(NameText(name));
  return TRUE;
}
BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR p) {
  reinterpret_cast<std::set<WORD>*>(p)->insert(language);
  return TRUE;
}
LPCWSTR NameOf(const std::wstring& text) {
  return iswdigit(text[0]) ? MAKEINTRESOURCEW(_wtoi(text.c_str())) : text.c_str();
}

// The gaps of one module, one line each.
std::vector<std::wstring> Gaps(HMODULE module) {
  std::vector<std::wstring> gaps;
  struct Type {
    LPCWSTR type;
    const wchar_t* label;
  } types[] = {{RT_STRING, L"string block"}, {RT_DIALOG, L"dialog"}, {RT_MENU, L"menu"}};
  for (const Type& t : types) {
    NAMES n;
    EnumResourceNamesW(module, t.type, AddName, reinterpret_cast<LONG_PTR>(&n));
    for (const std::wstring& name : n.names) {
      std::set<WORD> languages;
      EnumResourceLanguagesW(module, t.type, NameOf(name), AddLanguage, reinterpret_cast<LONG_PTR>(&languages));
      for (WORD lang : {kGerman, kEnglish})
        if (!languages.count(lang)) gaps.push_back(std::wstring(t.label) + L" " + name + L" lacks " + std::to_wstring(lang));
      if (t.type != RT_STRING || languages.size() < 2) continue;
      const UINT first = (UINT(_wtoi(name.c_str())) - 1) * 16;
      for (UINT id = first; id < first + 16; ++id) {
        wchar_t de[2048], en[2048];
        const bool hasDe = quarl::base::LoadStringOfLanguage(module, id, kGerman, de, 2048);
        const bool hasEn = quarl::base::LoadStringOfLanguage(module, id, kEnglish, en, 2048);
        if (hasDe != hasEn)
          gaps.push_back(L"string " + std::to_wstring(id) + L" only in " + (hasDe ? L"1031" : L"1033"));
        else if (hasDe && FormatCodes(de) != FormatCodes(en))
          gaps.push_back(L"string " + std::to_wstring(id) + L" has other format codes: \"" + de + L"\" / \"" + en +
                         L"\"");
      }
    }
  }
  return gaps;
}

TEST(ResourceParity, FindsTheGapsOfAModuleThatHasThem) {
  // The language module tests' own resources lack German on purpose.
  const std::wstring file = testutil::SelfDir() + (sizeof(void*) == 8 ? L"dovrak_tests64.exe" : L"dovrak_tests.exe");
  HMODULE module = LoadLibraryExW(file.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(nullptr, module);
  const std::vector<std::wstring> gaps = Gaps(module);
  FreeLibrary(module);
  const std::set<std::wstring> found(gaps.begin(), gaps.end());
  EXPECT_EQ((std::set<std::wstring>{L"string block 31 lacks 1031", L"string 401 only in 1033", L"dialog 501 lacks 1031"}),
            found);
}

TEST(ResourceParity, EveryProgramAndLibraryHasBothLanguages) {
  WIN32_FIND_DATAW fd;
  const std::wstring dir = testutil::SelfDir();
  std::set<std::wstring> checked;
  for (const wchar_t* pattern : {L"*.exe", L"*.dll"}) {
    HANDLE find = FindFirstFileW((dir + pattern).c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) continue;
    do {
      std::wstring file = fd.cFileName;
      for (wchar_t& c : file) c = towlower(c);
      if (file.find(L"_tests") != std::wstring::npos || file.rfind(L"faketwin", 0) == 0 ||
          file.rfind(L"bench", 0) == 0)
        continue;
      HMODULE module = LoadLibraryExW((dir + fd.cFileName).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
      if (!module) continue;
      checked.insert(file);
      for (const std::wstring& gap : Gaps(module)) ADD_FAILURE() << std::string(file.begin(), file.end()) << ": "
                                                                 << std::string(gap.begin(), gap.end());
      FreeLibrary(module);
    } while (FindNextFileW(find, &fd));
    FindClose(find);
  }
  const bool wide = sizeof(void*) == 8;
  for (const wchar_t* must : {wide ? L"larkon64.exe" : L"larkon.exe", wide ? L"quarl64.dll" : L"quarl86.dll",
                              wide ? L"dovrak64.dll" : L"dovrak86.dll", wide ? L"kinetra64.dll" : L"kinetra.dll"})
    EXPECT_TRUE(checked.count(must)) << std::string(must, must + wcslen(must));
}

}  // namespace
