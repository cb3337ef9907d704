#include "kinetra/imageinfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/common/testutil.h"

namespace {

using kinetra::_IMAGEINFO;

std::wstring FixtureName(const wchar_t* letter) {
#ifdef _WIN64
  return std::wstring(L"kn_verfix_") + letter + L"64.dll";
#else
  return std::wstring(L"kn_verfix_") + letter + L".dll";
#endif
}

std::wstring Fixture(const wchar_t* letter) { return testutil::SelfDir() + FixtureName(letter); }

std::wstring LongValue(size_t n) {
  std::wstring s;
  for (size_t i = 0; i < n; ++i) s += wchar_t(L'A' + i % 26);
  return s;
}

// A file of this test's own, deleted again by its destructor.
struct TempFile {
  std::wstring path;
  explicit TempFile(const char* content) {
    wchar_t dir[MAX_PATH], name[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"lkv", 0, name);
    path = name;
    HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, content, DWORD(strlen(content)), &written, nullptr);
    CloseHandle(h);
  }
  ~TempFile() { DeleteFileW(path.c_str()); }
};

TEST(ImageInfo, ReadsTheFirstTranslationOnlyAndCutsLongValues) {
  _IMAGEINFO info;
  const std::wstring path = Fixture(L"a");
  ASSERT_TRUE(info.LoadVersionInfo(path.c_str())) << path;
  EXPECT_TRUE(info.IsLoaded());
  EXPECT_EQ(path, info.GetPathNameStr());
  // The German block comes first in the translation table; the English block
  // has every name, the German one lacks company and copyright.
  EXPECT_STREQ(L"Prüfmodul für Versionen", info.GetDescription());
  EXPECT_STREQ(L"", info.GetCompanyNameStr());
  EXPECT_STREQ(L"", info.GetCopyrightStr());
  EXPECT_STREQ(L"pruefung.dll", info.GetOrgFilenameStr());
  EXPECT_STREQ(L"5.6 de", info.GetProductVersionStr());
  EXPECT_STREQ(L"", info.GetCommentsStr());
  EXPECT_EQ(LongValue(255), info.GetProductNameStr());
  EXPECT_STREQ(L"Prüfmodul für Versionen", info.GetDisplayNameStr());

  EXPECT_EQ(0x00010002u, info.GetVersionHigh());
  EXPECT_EQ(0x00030004u, info.GetVersionLow());
}

TEST(ImageInfo, FileVersionWithoutBufferIsTheDescription) {
  _IMAGEINFO info;
  ASSERT_TRUE(info.LoadVersionInfo(Fixture(L"a").c_str()));
  for (const wchar_t* text : {info.GetFileVersion(), info.GetFileVersionStr(), info.GetFileDescriptionStr()})
    EXPECT_STREQ(L"Prüfmodul für Versionen", text);
  wchar_t buf[64];
  EXPECT_EQ(buf, info.GetFileVersion(buf, sizeof buf));
  EXPECT_STREQ(L"1.2.3.4 de", buf);
}

TEST(ImageInfo, BufferGettersCutToTheByteCapacity) {
  _IMAGEINFO info;
  ASSERT_TRUE(info.LoadVersionInfo(Fixture(L"a").c_str()));
  struct Case {
    DWORD bytes;
    std::wstring want;
  } cases[] = {
      {20, LongValue(9)},     // ten characters' room: nine and the terminator
      {21, LongValue(9)},     // an odd byte holds no character
      {2, L""},               // room for the terminator only
      {512, LongValue(255)},  // the whole stored value, exactly
  };
  for (const Case& c : cases) {
    wchar_t buf[300];
    wmemset(buf, L'#', 300);
    EXPECT_EQ(buf, info.GetProductName(buf, c.bytes));
    EXPECT_EQ(c.want, buf) << c.bytes;
    EXPECT_EQ(L'#', buf[c.bytes / 2]) << "wrote past the capacity at " << c.bytes;
  }
  wchar_t one = L'#';
  EXPECT_STREQ(L"", info.GetProductName(&one, 1));
  EXPECT_EQ(L'#', one);
  EXPECT_STREQ(L"", info.GetProductName(nullptr, 100));
}

TEST(ImageInfo, EmptyDescriptionShowsTheFileName) {
  _IMAGEINFO info;
  ASSERT_TRUE(info.LoadVersionInfo(Fixture(L"b").c_str()));
  EXPECT_STREQ(L"", info.GetDescription());
  EXPECT_STREQ(L"Fixture Works", info.GetCompanyNameStr());
  EXPECT_EQ(FixtureName(L"b"), info.GetDisplayNameStr());
  wchar_t buf[MAX_PATH];
  EXPECT_EQ(FixtureName(L"b"), info.GetDisplayName(buf, sizeof buf));
  EXPECT_STREQ(L"7.0.0.1", info.GetFileVersion(buf, sizeof buf));
  EXPECT_EQ(0x00070000u, info.GetVersionHigh());
  EXPECT_EQ(0x00000001u, info.GetVersionLow());
}

TEST(ImageInfo, WithoutTranslationTableTheTextsStayEmpty) {
  _IMAGEINFO info;
  ASSERT_TRUE(info.LoadVersionInfo(Fixture(L"c").c_str()));
  EXPECT_TRUE(info.IsLoaded());
  EXPECT_STREQ(L"", info.GetDescription());
  EXPECT_EQ(0x00030001u, info.GetVersionHigh());
  EXPECT_EQ(0x00040001u, info.GetVersionLow());
}

TEST(ImageInfo, NoResourceFailsKeepsThePathAndClearsTheLastLoad) {
  TempFile plain("not an image");
  _IMAGEINFO info;
  ASSERT_TRUE(info.LoadVersionInfo(Fixture(L"a").c_str()));
  EXPECT_FALSE(info.LoadVersionInfo(plain.path.c_str()));
  EXPECT_FALSE(info.IsLoaded());
  EXPECT_EQ(plain.path, info.GetPathNameStr());
  EXPECT_STREQ(L"", info.GetDescription());
  EXPECT_STREQ(L"", info.GetProductNameStr());
  EXPECT_EQ(0u, info.GetVersionHigh());
  wchar_t buf[64];
  EXPECT_STREQ(L"", info.GetFileVersion(buf, sizeof buf));
  const std::wstring name = plain.path.substr(plain.path.find_last_of(L'\\') + 1);
  EXPECT_EQ(name, info.GetDisplayNameStr());

  EXPECT_FALSE(info.LoadVersionInfo(L"C:\\no\\such\\file.dll"));
  EXPECT_STREQ(L"file.dll", info.GetDisplayNameStr());
  EXPECT_FALSE(info.LoadVersionInfo(nullptr));
}

TEST(ImageInfo, DeletedObjectAnswersEmpty) {
  _IMAGEINFO info;
  ASSERT_TRUE(info.LoadVersionInfo(Fixture(L"a").c_str()));
  EXPECT_TRUE(info.Delete());
  EXPECT_FALSE(info.IsClassReady());
  EXPECT_EQ(0, memcmp(&info, "del", 4));
  EXPECT_FALSE(info.LoadVersionInfo(Fixture(L"a").c_str()));
  EXPECT_STREQ(L"", info.GetDescription());
  EXPECT_STREQ(L"", info.GetDisplayNameStr());
  EXPECT_EQ(0u, info.GetVersionHigh());
  FILETIME ft = info.GetFileTimeStamp();
  EXPECT_EQ(0u, ft.dwLowDateTime | ft.dwHighDateTime);
  wchar_t buf[16] = L"stale";
  EXPECT_STREQ(L"", info.GetCompanyName(buf, sizeof buf));
  EXPECT_STREQ(L"", buf);
  EXPECT_TRUE(info.Delete());  // twice is harmless

  EXPECT_TRUE(info.ReInit());
  ASSERT_TRUE(info.LoadVersionInfo(Fixture(L"b").c_str()));
  EXPECT_STREQ(L"Fixture Works", info.GetCompanyNameStr());
}

// ---- crafted version data -----------------------------------------------------

// A version block of the test's own making, answered by a query seam that points
// wherever the case wants: the reader must stay inside what it read.
struct Crafted {
  static BYTE block[64];
  static DWORD sizeAnswer;
  static int infoCalls;
  static const void* descPtr;
  static UINT descLen;
  static const void* companyPtr;
  static const void* fixedPtr;

  static DWORD WINAPI GetSize(LPCWSTR, LPDWORD handle) {
    *handle = 0;
    return sizeAnswer;
  }
  static BOOL WINAPI GetInfo(LPCWSTR, DWORD, DWORD size, LPVOID data) {
    ++infoCalls;
    memcpy(data, block, size < sizeof block ? size : sizeof block);
    return TRUE;
  }
  // Offsets into the caller's copy are taken from pointers into block.
  static LPVOID Rebase(LPCVOID copy, const void* p) {
    const BYTE* b = static_cast<const BYTE*>(p);
    return const_cast<BYTE*>(static_cast<const BYTE*>(copy) + (b - block));
  }
  static BOOL WINAPI Query(LPCVOID copy, LPCWSTR sub, LPVOID* value, PUINT length) {
    std::wstring s = sub;
    if (s == L"\\") {
      if (!fixedPtr) return FALSE;
      *value = Rebase(copy, fixedPtr);
      *length = sizeof(VS_FIXEDFILEINFO);
    } else if (s == L"\\VarFileInfo\\Translation") {
      *value = Rebase(copy, block);
      *length = 4;
    } else if (s.find(L"FileDescription") != std::wstring::npos) {
      *value = Rebase(copy, descPtr);
      *length = descLen;
    } else if (s.find(L"CompanyName") != std::wstring::npos) {
      *value = const_cast<void*>(companyPtr);
      *length = 4;
    } else {
      return FALSE;
    }
    return TRUE;
  }
};
BYTE Crafted::block[64];
DWORD Crafted::sizeAnswer;
int Crafted::infoCalls;
const void* Crafted::descPtr;
UINT Crafted::descLen;
const void* Crafted::companyPtr;
const void* Crafted::fixedPtr;

class ImageInfoCrafted : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(Crafted::block, 0, sizeof Crafted::block);
    const WORD pair[2] = {0x409, 0x4b0};
    memcpy(Crafted::block, pair, sizeof pair);
    // An unterminated text that runs to the very end of the block.
    memcpy(Crafted::block + 56, L"ABCD", 8);
    Crafted::sizeAnswer = sizeof Crafted::block;
    Crafted::infoCalls = 0;
    Crafted::descPtr = Crafted::block + 56;
    Crafted::descLen = 1000;
    static const wchar_t outside[] = L"OUT";
    Crafted::companyPtr = outside;
    Crafted::fixedPtr = Crafted::block + 40;  // fewer bytes left than the record has
    kinetra::KN_VERSION_SEAMS seams = {Crafted::GetSize, Crafted::GetInfo, Crafted::Query};
    kinetra::SetVersionSeams(&seams);
  }
  void TearDown() override { kinetra::SetVersionSeams(nullptr); }
};

TEST_F(ImageInfoCrafted, ValuesAreReadOnlyInsideTheBlock) {
  _IMAGEINFO info;
  ASSERT_TRUE(info.LoadVersionInfo(L"crafted.dll"));
  EXPECT_STREQ(L"ABCD", info.GetDescription());  // length cut to the block's end
  EXPECT_STREQ(L"", info.GetCompanyNameStr());   // a value outside the block is none
  EXPECT_EQ(0u, info.GetVersionHigh());          // a record that would overrun the block
  EXPECT_EQ(0u, info.GetVersionLow());
}

TEST_F(ImageInfoCrafted, AbsurdResourceSizeIsRefused) {
  Crafted::sizeAnswer = 0x7FFFFFF0;
  _IMAGEINFO info;
  EXPECT_FALSE(info.LoadVersionInfo(L"crafted.dll"));
  EXPECT_EQ(0, Crafted::infoCalls);
  EXPECT_STREQ(L"crafted.dll", info.GetPathNameStr());
}

// ---- the lock across a reload -------------------------------------------------

// Holds every load inside the version interface until released, counting them.
struct Gate {
  static HANDLE inside;
  static HANDLE go;
  static volatile LONG entered;
  static BOOL WINAPI GetInfo(LPCWSTR path, DWORD handle, DWORD size, LPVOID data) {
    InterlockedIncrement(&entered);
    SetEvent(inside);
    WaitForSingleObject(go, 30000);
    return GetFileVersionInfoW(path, handle, size, data);
  }
};
HANDLE Gate::inside;
HANDLE Gate::go;
volatile LONG Gate::entered;

struct Reader {
  _IMAGEINFO* info;
  wchar_t text[64];
};

DWORD WINAPI ReadCompany(void* p) {
  Reader* r = static_cast<Reader*>(p);
  r->info->GetCompanyName(r->text, sizeof r->text);
  return 0;
}

struct LoadJob {
  _IMAGEINFO* info;
  const wchar_t* letter;
};

DWORD WINAPI Load(void* p) {
  LoadJob* job = static_cast<LoadJob*>(p);
  job->info->LoadVersionInfo(Fixture(job->letter).c_str());
  return 0;
}

// While one load is under way, a second load and a buffer getter both wait for
// it: the load clears the texts under the lock it already holds instead of
// re-creating the lock beneath those who wait for it.
TEST(ImageInfoThreaded, ReloadsAndBufferGettersWaitForARunningLoad) {
  _IMAGEINFO info;
  ASSERT_TRUE(info.LoadVersionInfo(Fixture(L"a").c_str()));
  Gate::inside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Gate::go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  Gate::entered = 0;
  kinetra::KN_VERSION_SEAMS seams = {nullptr, Gate::GetInfo, nullptr};
  kinetra::SetVersionSeams(&seams);

  LoadJob first{&info, L"c"}, second{&info, L"b"};
  HANDLE a = CreateThread(nullptr, 0, Load, &first, 0, nullptr);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(Gate::inside, 30000));
  Reader r{&info, L"unread"};
  HANDLE reader = CreateThread(nullptr, 0, ReadCompany, &r, 0, nullptr);
  HANDLE b = CreateThread(nullptr, 0, Load, &second, 0, nullptr);
  EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(reader, 200)) << "the getter did not wait for the load";
  EXPECT_EQ(DWORD(WAIT_TIMEOUT), WaitForSingleObject(b, 0)) << "the second load did not wait";
  EXPECT_EQ(1, Gate::entered) << "two loads ran at once";
  SetEvent(Gate::go);
  for (HANDLE h : {a, reader, b}) EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(h, 30000));
  EXPECT_EQ(2, Gate::entered);
  // The getter ran between the loads or after both; never half-way through one.
  EXPECT_TRUE(std::wstring(r.text) == L"" || std::wstring(r.text) == L"Fixture Works") << r.text;
  EXPECT_STREQ(L"Fixture Works", info.GetCompanyNameStr());
  kinetra::SetVersionSeams(nullptr);
  for (HANDLE h : {a, reader, b, Gate::inside, Gate::go}) CloseHandle(h);
}

}  // namespace
