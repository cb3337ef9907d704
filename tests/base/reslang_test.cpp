#include "quarl/base/reslang.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A block built from (length word, characters) entries as the resource compiler
// writes them; `counts` may lie about the lengths to make malformed blocks.
std::vector<WCHAR> Block(const std::vector<std::wstring>& texts) {
  std::vector<WCHAR> b;
  for (const std::wstring& t : texts) {
    b.push_back(WCHAR(t.size()));
    b.insert(b.end(), t.begin(), t.end());
  }
  return b;
}

std::wstring Entry(const std::vector<WCHAR>& block, UINT index, size_t chars) {
  const WCHAR* text = nullptr;
  size_t length = 99;
  if (!quarl::base::FindBlockEntry(block.data(), chars, index, &text, &length)) {
    EXPECT_EQ(0u, length);
    return L"<none>";
  }
  // Never past what the caller said the block holds.
  EXPECT_LE(size_t(text - block.data()) + length, chars);
  return std::wstring(text, length);
}

TEST(StringBlock, WalkOfWellFormedBlocks) {
  std::vector<std::wstring> texts(16);
  texts[0] = L"first";
  texts[3] = L"fourth";
  texts[15] = L"last";
  const std::vector<WCHAR> b = Block(texts);
  EXPECT_EQ(L"first", Entry(b, 0, b.size()));
  EXPECT_EQ(L"<none>", Entry(b, 1, b.size()));  // zero-length entries are empty...
  EXPECT_EQ(L"fourth", Entry(b, 3, b.size()));   // ...and are stepped over by one word
  EXPECT_EQ(L"last", Entry(b, 15, b.size()));
  EXPECT_EQ(L"<none>", Entry(b, 16, b.size()));  // no 17th entry
}

TEST(StringBlock, MalformedBlocksNeverReadPastTheEnd) {
  std::vector<std::wstring> texts(16);
  texts[2] = std::wstring(600, L'x');  // longer than any caller's buffer
  texts[5] = L"after the long one";
  std::vector<WCHAR> b = Block(texts);
  EXPECT_EQ(600u, Entry(b, 2, b.size()).size());
  EXPECT_EQ(L"after the long one", Entry(b, 5, b.size()));

  // Cut inside entry 5: what is there of it, nothing beyond.
  const size_t at5 = 2 + 601 + 2;  // two empty words, the long entry, two more empty words
  EXPECT_EQ(L"after", Entry(b, 5, at5 + 1 + 5));
  // Cut before entry 5 or right at its length word.
  EXPECT_EQ(L"<none>", Entry(b, 5, at5));
  EXPECT_EQ(L"<none>", Entry(b, 5, at5 + 1));
  // A length word that claims more than the block holds.
  std::vector<WCHAR> lying = {WCHAR(0xFFFF), L'a', L'b'};
  EXPECT_EQ(L"ab", Entry(lying, 0, lying.size()));
  EXPECT_EQ(L"<none>", Entry(lying, 1, lying.size()));
  EXPECT_EQ(L"<none>", Entry(lying, 0, 0));  // an empty resource
  const WCHAR* text;
  size_t length;
  EXPECT_FALSE(quarl::base::FindBlockEntry(nullptr, 10, 0, &text, &length));
}

TEST(StringBlock, LookupCutsToTheBufferWithItsTerminator) {
  wchar_t buf[4] = {L'q', L'q', L'q', L'q'};
  // The test program has no string table: nothing found, buffer cleared.
  EXPECT_FALSE(quarl::base::LoadStringOfLanguage(GetModuleHandleW(nullptr), 1, 1033, buf, 4));
  for (wchar_t c : buf) EXPECT_EQ(L'\0', c);
  EXPECT_FALSE(quarl::base::LoadStringOfLanguage(GetModuleHandleW(nullptr), 1, 1033, buf, 1));
}

}  // namespace
