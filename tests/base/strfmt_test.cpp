#include "quarl/base/strfmt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "quarl/base/objhdr.h"

using quarl::CopyNW;
using quarl::CopyW;
using quarl::FormatW;

namespace {

// A buffer with guard characters after the capacity, to see any write past it.
struct Guarded {
  static constexpr size_t kGuard = 8;
  wchar_t data[64 + kGuard];
  explicit Guarded() { wmemset(data, L'#', 64 + kGuard); }
  bool GuardIntact(size_t cap) const {
    for (size_t i = cap; i < cap + kGuard; ++i)
      if (data[i] != L'#') return false;
    return true;
  }
};

}  // namespace

TEST(Formatter, CapacityBoundaries) {
  // "abc1" is four characters: it needs five with the terminator.
  struct Case {
    size_t cap;
    bool fits;
    const wchar_t* text;
  } cases[] = {
      {6, true, L"abc1"},  // room to spare
      {5, true, L"abc1"},  // exact fit
      {4, false, L"abc"},  // one short: cut, still terminated
      {2, false, L"a"},
      {1, false, L""},
  };
  for (const Case& c : cases) {
    Guarded g;
    EXPECT_EQ(c.fits, FormatW(g.data, c.cap, L"%s%d", L"abc", 1)) << c.cap;
    EXPECT_STREQ(c.text, g.data) << c.cap;
    EXPECT_TRUE(g.GuardIntact(c.cap)) << c.cap;
  }
}

TEST(Formatter, ZeroCapacityAndNullBufferWriteNothing) {
  Guarded g;
  EXPECT_FALSE(FormatW(g.data, 0, L"%s", L"x"));
  EXPECT_EQ(L'#', g.data[0]);
  EXPECT_FALSE(FormatW(nullptr, 10, L"%s", L"x"));
  EXPECT_FALSE(CopyW(g.data, 0, L"x"));
  EXPECT_EQ(L'#', g.data[0]);
  EXPECT_FALSE(CopyW(nullptr, 4, L"x"));
}

TEST(Formatter, ConversionsFollowMicrosoftsWideMeaning) {
  void* p = reinterpret_cast<void*>(uintptr_t(0x12ab));
  const std::wstring pText = sizeof(void*) == 8 ? L"00000000000012AB" : L"000012AB";
  struct Case {
    std::wstring got, want;
  };
  auto f = [](const wchar_t* fmt, auto... args) {
    wchar_t buf[128];
    FormatW(buf, 128, fmt, args...);
    return std::wstring(buf);
  };
  Case cases[] = {
      {f(L"%s|%ls|%ws", L"wide", L"l", L"w"), L"wide|l|w"},
      {f(L"%S|%hs", "narrow", "h"), L"narrow|h"},
      {f(L"%c%C%hc%lc", L'W', 'N', 'h', L'l'), L"WNhl"},
      {f(L"[%5s][%-5s][%.2s]", L"ab", L"ab", L"abcdef"), L"[   ab][ab   ][ab]"},
      {f(L"%d %i %u %x %X", -5, 42, 4000000000u, 255, 255), L"-5 42 4000000000 ff FF"},
      {f(L"%08X %.8X %#x", 0xBEEFu, 0x1u, 16u), L"0000BEEF 00000001 0x10"},
      {f(L"%.2i%.2i%.2i", 8, 11, 12), L"081112"},
      {f(L"%I64d %lld %I64u", -9000000000LL, 9000000000LL, 18446744073709551615ULL),
       L"-9000000000 9000000000 18446744073709551615"},
      {f(L"%Iu %zu", size_t(7), size_t(8)), L"7 8"},
      {f(L"%hd %hu", 70000, 70000), L"4464 4464"},
      {f(L"%*d|%-*d|%.*s", 4, 1, 3, 2, 2, L"xyz"), L"   1|2  |xy"},
      {f(L"%.1f %% %5.2f", 12.34, 3.14159), L"12.3 %  3.14"},
      {f(L"%p", p), pText},
      {f(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)"},
      {f(L"Umlaut %s", L"\u00e4\u00f6\u00fc\u00df"), L"Umlaut \u00e4\u00f6\u00fc\u00df"},
      {f(L"%y unknown"), L"%y unknown"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, c.got);
}

TEST(Formatter, PercentNNeverWritesThroughItsArgument) {
  int target = 1234;
  wchar_t buf[32];
  EXPECT_TRUE(FormatW(buf, 32, L"ab%ncd", &target));
  EXPECT_STREQ(L"abcd", buf);
  EXPECT_EQ(1234, target);
}

TEST(Formatter, LongConversionIsCutNotOverrun) {
  Guarded g;
  EXPECT_FALSE(FormatW(g.data, 10, L"%1000d", 5));
  EXPECT_EQ(9u, wcslen(g.data));
  EXPECT_TRUE(g.GuardIntact(10));
  Guarded h;
  EXPECT_FALSE(FormatW(h.data, 8, L"%-20s|", L"x"));
  EXPECT_EQ(7u, wcslen(h.data));
  EXPECT_TRUE(h.GuardIntact(8));
}

TEST(Formatter, CopyByLengthStopsAtLengthTerminatorOrCapacity) {
  const wchar_t src[] = L"notepad.exeXYZ";
  wchar_t buf[32];
  EXPECT_TRUE(CopyNW(buf, 32, src, 11));
  EXPECT_STREQ(L"notepad.exe", buf);
  EXPECT_FALSE(CopyNW(buf, 5, src, 11));
  EXPECT_STREQ(L"note", buf);
  EXPECT_TRUE(CopyNW(buf, 5, src, 4));  // exact fit
  EXPECT_STREQ(L"note", buf);
  EXPECT_TRUE(CopyNW(buf, 32, L"ab\0cd", 5));
  EXPECT_STREQ(L"ab", buf);
  EXPECT_TRUE(CopyNW(buf, 32, nullptr, 5));
  EXPECT_STREQ(L"", buf);
  EXPECT_EQ(31u, quarl::CchFromBytes(64) - 1);
}

TEST(ObjectHeader, SignatureLifecycle) {
  constexpr uint32_t s1 = quarl::Sig('T', 'E', 'S', 'T');
  constexpr uint32_t s2 = quarl::Sig('O', 'B', 'J', '1');
  quarl::OBJHEADER h{};
  EXPECT_FALSE(quarl::HeaderIs(h, s1, s2));
  quarl::HeaderSet(h, s1, s2, nullptr, sizeof h);
  EXPECT_TRUE(quarl::HeaderIs(h, s1, s2));
  EXPECT_EQ(0, memcmp(&h.sig1, "TEST", 4));
  quarl::HeaderMarkDeleted(h);
  EXPECT_FALSE(quarl::HeaderIs(h, s1, s2));
  EXPECT_EQ(0, memcmp(&h.sig1, "del", 4));
}
