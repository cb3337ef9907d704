#include "kinetra/taskdata.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>

#include "kinetra/loadgauge.h"
#include "quarl/base/strfmt.h"
#include "tests/common/testutil.h"

namespace {

using kinetra::_TASKDATADYNAMIC;
using kinetra::_TASKDATASTATIC;

constexpr ULONGLONG kMs = 10000;  // 100 ns units
constexpr ULONGLONG kHour = 3600 * 1000 * kMs;
constexpr ULONGLONG kDay = 24 * kHour;

std::wstring FixturePath(const wchar_t* letter) {
#ifdef _WIN64
  return testutil::SelfDir() + L"kn_verfix_" + letter + L"64.dll";
#else
  return testutil::SelfDir() + L"kn_verfix_" + letter + L".dll";
#endif
}

FILETIME Ft(ULONGLONG v) { return FILETIME{DWORD(v), DWORD(v >> 32)}; }

// ---- the duration encoding ------------------------------------------------------

TEST(TaskDataDuration, DaysCountFromTheFirstOfJanuary1601) {
  struct Case {
    ULONGLONG duration;
    WORD year, month, day, hour, minute, second, ms;
  } cases[] = {
      {0, 1601, 1, 1, 0, 0, 0, 0},
      {kHour + 2 * 60000 * kMs + 3456 * kMs, 1601, 1, 1, 1, 2, 3, 456},
      {kDay - kMs, 1601, 1, 1, 23, 59, 59, 999},  // just under one day
      {kDay, 1601, 1, 2, 0, 0, 0, 0},
      {31 * kDay, 1601, 2, 1, 0, 0, 0, 0},
      {365 * kDay, 1602, 1, 1, 0, 0, 0, 0},  // 1601 is no leap year
      {366 * kDay + 5 * kHour, 1602, 1, 2, 5, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SYSTEMTIME st;
    ASSERT_TRUE(kinetra::DurationToSystemTime(c.duration, &st)) << c.duration;
    EXPECT_EQ(c.year, st.wYear) << c.duration;
    EXPECT_EQ(c.month, st.wMonth) << c.duration;
    EXPECT_EQ(c.day, st.wDay) << c.duration;
    EXPECT_EQ(c.hour, st.wHour) << c.duration;
    EXPECT_EQ(c.minute, st.wMinute) << c.duration;
    EXPECT_EQ(c.second, st.wSecond) << c.duration;
    EXPECT_EQ(c.ms, st.wMilliseconds) << c.duration;
  }
  SYSTEMTIME st;
  memset(&st, 0x55, sizeof st);
  EXPECT_FALSE(kinetra::DurationToSystemTime(0x8000000000000000ull, &st));
  EXPECT_EQ(0, st.wYear + st.wMonth + st.wDay + st.wHour);
}

// ---- fake providers -------------------------------------------------------------

struct World {
  static DWORD now;
  static FILETIME utcNow;
  // Static record.
  static BOOL pathResult;
  static std::wstring path;
  static int pathCalls;
  static BOOL cmdResult;
  static std::wstring cmd;
  static int cmdCalls;
  static BOOL userResult;
  static std::wstring user;
  static bool userFillsAll;  // writes the whole capacity, unterminated
  static int userCalls;
  static DWORD fileError;
  static int iconCalls;
  static bool makeIcons;
  // Dynamic record.
  static BOOL opens;
  static kinetra::KN_TASK_SAMPLE sample;
  static DWORD priority;
  static kinetra::KN_TASK_SOURCE_FIGURES figures;

  static void Reset() {
    now = 100000;
    utcNow = Ft(0);
    pathResult = TRUE;
    path = L"C:\\fake\\image.exe";
    pathCalls = 0;
    cmdResult = TRUE;
    cmd = L"image.exe /x";
    cmdCalls = 0;
    userResult = TRUE;
    user = L"alice";
    userFillsAll = false;
    userCalls = 0;
    fileError = ERROR_SUCCESS;
    iconCalls = 0;
    makeIcons = false;
    opens = TRUE;
    sample = {};
    priority = NORMAL_PRIORITY_CLASS;
    figures = {};
  }

  static DWORD WINAPI Ticks() { return now; }
  static void WINAPI UtcNow(LPFILETIME ft) { *ft = utcNow; }
  static BOOL Path(DWORD, wchar_t* buf, DWORD capacity) {
    ++pathCalls;
    if (pathResult) quarl::CopyW(buf, quarl::CchFromBytes(capacity), path.c_str());
    return pathResult;
  }
  static BOOL Cmd(DWORD, wchar_t* buf, DWORD capacity) {
    ++cmdCalls;
    if (!cmdResult) {
      SetLastError(ERROR_NOT_SUPPORTED);  // a 64-bit reader and a WOW64 target
      return FALSE;
    }
    quarl::CopyW(buf, quarl::CchFromBytes(capacity), cmd.c_str());
    return TRUE;
  }
  static BOOL User(DWORD, wchar_t* buf, DWORD cch) {
    ++userCalls;
    if (userFillsAll)
      wmemset(buf, L'u', cch);
    else if (userResult)
      quarl::CopyW(buf, cch, user.c_str());
    return userResult;
  }
  static DWORD CheckFile(const wchar_t*) { return fileError; }
  static void Icons(const wchar_t*, HICON* large, HICON* small) {
    ++iconCalls;
    if (!makeIcons) return;
    *large = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
    *small = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
  }
  static BOOL Sample(DWORD, kinetra::KN_TASK_SAMPLE* out) {
    if (!opens) return FALSE;
    *out = sample;
    return TRUE;
  }
  static DWORD Priority(DWORD) { return opens ? priority : 0; }
  static void Figures(DWORD, kinetra::KN_TASK_SOURCE_FIGURES* out) { *out = figures; }

  static kinetra::KN_TASKDATA_SEAMS Seams() {
    return {Ticks, UtcNow, Path, Cmd, User, CheckFile, Icons, Sample, Priority, Figures};
  }
};
DWORD World::now;
FILETIME World::utcNow;
BOOL World::pathResult;
std::wstring World::path;
int World::pathCalls;
BOOL World::cmdResult;
std::wstring World::cmd;
int World::cmdCalls;
BOOL World::userResult;
std::wstring World::user;
bool World::userFillsAll;
int World::userCalls;
DWORD World::fileError;
int World::iconCalls;
bool World::makeIcons;
BOOL World::opens;
kinetra::KN_TASK_SAMPLE World::sample;
DWORD World::priority;
kinetra::KN_TASK_SOURCE_FIGURES World::figures;

class Faked : public ::testing::Test {
 protected:
  void SetUp() override {
    World::Reset();
    kinetra::KN_TASKDATA_SEAMS seams = World::Seams();
    kinetra::SetTaskDataSeams(&seams);
  }
  void TearDown() override { kinetra::SetTaskDataSeams(nullptr); }
};

// ---- static record: the retry state machine --------------------------------------

class TaskDataStatic : public Faked {};

TEST_F(TaskDataStatic, FailingQueriesStopAtTheirLimitsAndAreSpaced) {
  World::pathResult = FALSE;
  World::cmdResult = FALSE;
  World::userResult = FALSE;
  _TASKDATASTATIC s;
  ASSERT_TRUE(s.QueryProcessData(42, 7));
  EXPECT_EQ(42u, s.GetProcessID());
  EXPECT_EQ(7u, s.GetParentPID());
  EXPECT_EQ(1, World::pathCalls);
  EXPECT_EQ(1, World::cmdCalls);
  EXPECT_EQ(1, World::userCalls);

  // Within a second nothing but the user name is asked again; exactly 1000 ms
  // later is still too soon.
  World::now += 1000;
  ASSERT_TRUE(s.QueryProcessData(42, 7));
  EXPECT_EQ(1, World::pathCalls);
  EXPECT_EQ(1, World::cmdCalls);
  EXPECT_EQ(2, World::userCalls);
  World::now += 1;
  ASSERT_TRUE(s.QueryProcessData(42, 8));
  EXPECT_EQ(2, World::pathCalls);
  EXPECT_EQ(2, World::cmdCalls);
  EXPECT_EQ(8u, s.GetParentPID());  // stored on every call

  for (int i = 0; i < 20; ++i) {
    World::now += 5000;
    ASSERT_TRUE(s.QueryProcessData(42, 8));
  }
  EXPECT_EQ(5, World::pathCalls);
  EXPECT_EQ(5, World::cmdCalls);
  EXPECT_EQ(10, World::userCalls);
  EXPECT_EQ(5u, s.GetPathAttempts());
  EXPECT_EQ(5u, s.GetCommandLineAttempts());
  EXPECT_EQ(10u, s.GetUserAttempts());
  EXPECT_FALSE(s.IsPathOK());
  EXPECT_FALSE(s.IsCommandLineOK());
  EXPECT_FALSE(s.IsUserOK());
  EXPECT_FALSE(s.IsInfoOK());
  EXPECT_STREQ(L"", s.GetPathName());
  EXPECT_STREQ(L"", s.GetCommandLineW());
  EXPECT_STREQ(L"", s.GetUsername());
  EXPECT_EQ(0, World::iconCalls);
}

TEST_F(TaskDataStatic, SpacingHoldsAcrossTheTickCountWrap) {
  World::now = 0xFFFFFF00;
  World::pathResult = FALSE;
  _TASKDATASTATIC s;
  s.QueryProcessData(42, 7);
  World::now = 0x00000200;  // 0x300 = 768 ms later
  s.QueryProcessData(42, 7);
  EXPECT_EQ(1, World::pathCalls);
  World::now = 0x000002F0;  // 1008 ms later
  s.QueryProcessData(42, 7);
  EXPECT_EQ(2, World::pathCalls);
}

TEST_F(TaskDataStatic, SuccessFillsEverythingOnceWithTheImagesVersionTexts) {
  World::path = FixturePath(L"a");
  World::makeIcons = true;
  _TASKDATASTATIC s;
  ASSERT_TRUE(s.QueryProcessDataEx(42, 7, nullptr));
  EXPECT_TRUE(s.IsPathOK());
  EXPECT_TRUE(s.IsCommandLineOK());
  EXPECT_TRUE(s.IsUserOK());
  EXPECT_TRUE(s.IsInfoOK());
  EXPECT_EQ(World::path, s.GetPathName());
  EXPECT_STREQ(L"image.exe /x", s.GetCommandLineW());
  EXPECT_STREQ(L"alice", s.GetUsername());
  EXPECT_STREQ(L"Prüfmodul für Versionen", s.GetInfoDescription());
  EXPECT_STREQ(L"Prüfmodul für Versionen", s.GetInfoFileVersion());
  EXPECT_STREQ(L"", s.GetInfoCompanyName());
  EXPECT_STREQ(L"", s.GetInfoCopyright());
  EXPECT_EQ(255u, wcslen(s.GetInfoProductName()));
  EXPECT_NE(nullptr, s.GetIcon());
  EXPECT_NE(nullptr, s.GetIconSmall());

  for (int i = 0; i < 5; ++i) {
    World::now += 5000;
    s.QueryProcessData(42, 7);
  }
  EXPECT_EQ(1, World::pathCalls);
  EXPECT_EQ(1, World::cmdCalls);
  EXPECT_EQ(1, World::userCalls);
  EXPECT_EQ(1, World::iconCalls);
}

TEST_F(TaskDataStatic, AnImageWithoutVersionOrIconsIsLoadedOnce) {
  World::path = L"C:\\no\\such\\image.exe";  // the file check is faked to pass
  _TASKDATASTATIC s;
  s.QueryProcessData(42, 7);
  EXPECT_TRUE(s.IsInfoOK());
  EXPECT_EQ(nullptr, s.GetIcon());
  EXPECT_STREQ(L"", s.GetInfoDescription());
  World::now += 5000;
  s.QueryProcessData(42, 7);
  EXPECT_EQ(1, World::iconCalls);
}

TEST_F(TaskDataStatic, FileCheckDecidesWhetherThePathCounts) {
  struct Case {
    DWORD error;
    bool pathOK;
  } cases[] = {
      {ERROR_SUCCESS, true},
      {ERROR_ACCESS_DENIED, true},
      {ERROR_FILE_NOT_FOUND, false},
      {ERROR_PATH_NOT_FOUND, false},
      {ERROR_SHARING_VIOLATION, false},
  };
  for (const Case& c : cases) {
    World::Reset();
    World::fileError = c.error;
    _TASKDATASTATIC s;
    s.QueryProcessData(42, 7);
    EXPECT_EQ(c.pathOK, bool(s.IsPathOK())) << c.error;
    EXPECT_EQ(c.pathOK, bool(s.IsInfoOK())) << c.error;
  }
}

TEST_F(TaskDataStatic, DeletedImageDropsPathAndCommandLineUntilTheAttemptsRunOut) {
  World::fileError = ERROR_SUCCESS;
  World::pathResult = FALSE;  // the first path query fails; the command line works
  _TASKDATASTATIC s;
  s.QueryProcessData(42, 7);
  EXPECT_TRUE(s.IsCommandLineOK());
  EXPECT_EQ(1, World::cmdCalls);

  // Now the path comes, but the file it names is gone.
  World::pathResult = TRUE;
  World::fileError = ERROR_FILE_NOT_FOUND;
  for (int i = 0; i < 10; ++i) {
    World::now += 1500;
    s.QueryProcessData(42, 7);
    EXPECT_FALSE(s.IsPathOK());
  }
  EXPECT_EQ(5, World::pathCalls);
  // Every dropped path reopened the command line, within its own limit.
  EXPECT_EQ(5, World::cmdCalls);
  EXPECT_FALSE(s.IsInfoOK());
  EXPECT_EQ(0, World::iconCalls);
}

// The real file check, on a file that existed and was deleted.
TEST_F(TaskDataStatic, RealFileCheckOnADeletedFile) {
  kinetra::KN_TASKDATA_SEAMS seams = World::Seams();
  seams.checkImageFile = nullptr;
  kinetra::SetTaskDataSeams(&seams);
  wchar_t dir[MAX_PATH], name[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  GetTempFileNameW(dir, L"lkt", 0, name);
  World::path = name;
  {
    _TASKDATASTATIC s;
    s.QueryProcessData(42, 7);
    EXPECT_TRUE(s.IsPathOK());
  }
  DeleteFileW(name);
  _TASKDATASTATIC s;
  s.QueryProcessData(42, 7);
  EXPECT_FALSE(s.IsPathOK());
  EXPECT_FALSE(s.IsInfoOK());
}

TEST_F(TaskDataStatic, UnreadableCommandLineOfAWow64TargetLeavesTheRestAlone) {
  World::cmdResult = FALSE;
  World::path = FixturePath(L"b");
  _TASKDATASTATIC s;
  for (int i = 0; i < 8; ++i) {
    s.QueryProcessData(42, 7);
    World::now += 1001;
  }
  EXPECT_EQ(5, World::cmdCalls);
  EXPECT_FALSE(s.IsCommandLineOK());
  EXPECT_STREQ(L"", s.GetCommandLineW());
  EXPECT_TRUE(s.IsPathOK());
  EXPECT_TRUE(s.IsInfoOK());
  EXPECT_STREQ(L"alice", s.GetUsername());
}

TEST_F(TaskDataStatic, UserNamesAreRetriedWhileEmptyAndAlwaysTerminated) {
  World::user = L"";
  _TASKDATASTATIC s;
  s.QueryProcessData(42, 7);
  s.QueryProcessData(42, 7);
  EXPECT_FALSE(s.IsUserOK());
  EXPECT_EQ(2, World::userCalls);
  World::user = L"bob";
  s.QueryProcessData(42, 7);
  EXPECT_TRUE(s.IsUserOK());
  EXPECT_STREQ(L"bob", s.GetUsername());
  s.QueryProcessData(42, 7);
  EXPECT_EQ(3, World::userCalls);

  World::userFillsAll = true;
  _TASKDATASTATIC t;
  t.QueryProcessData(43, 7);
  EXPECT_EQ(_TASKDATASTATIC::kUserChars - 1, wcslen(t.GetUsername()));
}

TEST_F(TaskDataStatic, LongTextsUseTheWholeField) {
  World::cmd = std::wstring(700, L'c');
  World::path = L"C:\\" + std::wstring(500, L'p') + L".exe";
  _TASKDATASTATIC s;
  s.QueryProcessData(42, 7);
  EXPECT_EQ(World::cmd, s.GetCommandLineW());
  EXPECT_EQ(World::path, s.GetPathName());
  World::Reset();
  World::cmd = std::wstring(2000, L'c');
  _TASKDATASTATIC t;
  t.QueryProcessData(42, 7);
  EXPECT_EQ(_TASKDATASTATIC::kCommandLineChars - 1, wcslen(t.GetCommandLineW()));
}

TEST_F(TaskDataStatic, ANewPidForgetsEverything) {
  World::path = FixturePath(L"a");
  World::makeIcons = true;
  _TASKDATASTATIC s;
  s.QueryProcessData(42, 7);
  ASSERT_TRUE(s.IsInfoOK());
  HICON oldIcon = s.GetIcon();
  ICONINFO ii;
  ASSERT_TRUE(GetIconInfo(oldIcon, &ii));
  DeleteObject(ii.hbmColor);
  DeleteObject(ii.hbmMask);

  World::pathResult = FALSE;
  World::cmdResult = FALSE;
  World::userResult = FALSE;
  s.QueryProcessData(43, 9);
  EXPECT_EQ(43u, s.GetProcessID());
  EXPECT_EQ(9u, s.GetParentPID());
  EXPECT_FALSE(s.IsInfoOK());
  EXPECT_STREQ(L"", s.GetPathName());
  EXPECT_STREQ(L"", s.GetUsername());
  EXPECT_STREQ(L"", s.GetInfoDescription());
  EXPECT_EQ(nullptr, s.GetIcon());
  EXPECT_FALSE(GetIconInfo(oldIcon, &ii)) << "the old icon was not destroyed";
  EXPECT_EQ(1u, s.GetPathAttempts());
  EXPECT_EQ(1u, s.GetUserAttempts());
}

TEST_F(TaskDataStatic, DeletedRecordAnswersEmpty) {
  World::path = FixturePath(L"a");
  _TASKDATASTATIC s;
  s.QueryProcessData(42, 7);
  EXPECT_TRUE(s.Delete());
  EXPECT_FALSE(s.IsClassReady());
  EXPECT_FALSE(s.QueryProcessData(42, 7));
  EXPECT_STREQ(L"", s.GetPathName());
  EXPECT_STREQ(L"", s.GetInfoDescription());
  EXPECT_EQ(0u, s.GetProcessID());
  EXPECT_FALSE(s.GetImageInfo()->IsClassReady());
  EXPECT_TRUE(s.ReInit());
  EXPECT_TRUE(s.QueryProcessData(42, 7));
  EXPECT_STREQ(L"alice", s.GetUsername());
}

// The process list moves its items as bytes; a moved record keeps working and is
// destroyed once, at its new place.
TEST_F(TaskDataStatic, RecordsMoveAsBytes) {
  World::path = FixturePath(L"a");
  World::pathResult = FALSE;
  alignas(_TASKDATASTATIC) static BYTE from[sizeof(_TASKDATASTATIC)];
  alignas(_TASKDATASTATIC) static BYTE to[sizeof(_TASKDATASTATIC)];
  auto* a = new (from) _TASKDATASTATIC;
  a->QueryProcessData(42, 7);
  memcpy(to, from, sizeof from);
  memset(from, 0xCC, sizeof from);  // the old bytes are forgotten
  auto* b = reinterpret_cast<_TASKDATASTATIC*>(to);
  World::pathResult = TRUE;
  World::now += 2000;
  EXPECT_TRUE(b->QueryProcessData(42, 7));
  EXPECT_TRUE(b->IsInfoOK());
  EXPECT_STREQ(L"Prüfmodul für Versionen", b->GetInfoDescription());
  b->~_TASKDATASTATIC();

  alignas(_TASKDATADYNAMIC) static BYTE dfrom[sizeof(_TASKDATADYNAMIC)];
  alignas(_TASKDATADYNAMIC) static BYTE dto[sizeof(_TASKDATADYNAMIC)];
  auto* d = new (dfrom) _TASKDATADYNAMIC;
  d->QueryProcessData(42);
  memcpy(dto, dfrom, sizeof dfrom);
  memset(dfrom, 0xCC, sizeof dfrom);
  auto* e = reinterpret_cast<_TASKDATADYNAMIC*>(dto);
  World::figures.cpuUsage = 40;
  World::now += 1000;
  EXPECT_TRUE(e->QueryProcessData(42));
  EXPECT_EQ(40u, e->GetGraph()->GetDataPoint(World::now + 1, 0));
  e->~_TASKDATADYNAMIC();
}

// ---- dynamic record -------------------------------------------------------------

class TaskDataDynamic : public Faked {};

TEST_F(TaskDataDynamic, RatesComeFromTheInjectedClock) {
  World::sample.memory.WorkingSetSize = 10000000;
  World::sample.memory.PagefileUsage = 4000000;
  World::sample.io.ReadTransferCount = 1000000;
  World::now = 5000;
  _TASKDATADYNAMIC d;
  ASSERT_TRUE(d.QueryProcessData(42));
  // Nothing to measure against yet.
  EXPECT_EQ(0, d.GetPhysicalMemoryDelta());
  EXPECT_EQ(0, d.GetPagefileDelta());
  EXPECT_EQ(0u, d.GetIOReadTransferDelta());
  EXPECT_EQ(10000000u, d.GetPhysicalMemoryBytes());

  struct Step {
    DWORD advanceMs;
    SIZE_T workingSet, pagefile;
    ULONGLONG read, write;
    LONGLONG wsRate, pfRate;
    DWORD readRate, writeRate;
  } steps[] = {
      // 0 ms apart: divided by 1, not by 0.
      {0, 10001000, 4000000, 1000500, 0, 1000000, 0, 500000, 0},
      // 999 ms: elapsed counts one more, 1000.
      {999, 9001000, 4002000, 1005500, 3000, -1000000, 2000, 5000, 3000},
      // A shrinking working set over 1.5 s; truncated towards zero.
      {1500, 9000000, 4002000, 1005500, 3000, -666, 0, 0, 0},
  };
  for (const Step& s : steps) {
    World::now += s.advanceMs;
    World::sample.memory.WorkingSetSize = s.workingSet;
    World::sample.memory.PagefileUsage = s.pagefile;
    World::sample.io.ReadTransferCount = s.read;
    World::sample.io.WriteTransferCount = s.write;
    ASSERT_TRUE(d.QueryProcessData(42));
    EXPECT_EQ(s.wsRate, d.GetPhysicalMemoryDelta()) << s.advanceMs;
    EXPECT_EQ(s.pfRate, d.GetPagefileDelta()) << s.advanceMs;
    EXPECT_EQ(s.wsRate + s.pfRate, d.GetTotalMemoryDelta()) << s.advanceMs;
    EXPECT_EQ(s.readRate, d.GetIOReadTransferDelta()) << s.advanceMs;
    EXPECT_EQ(s.writeRate, d.GetIOWriteTransferDelta()) << s.advanceMs;
    EXPECT_EQ(ULONGLONG(s.workingSet) + s.pagefile, d.GetTotalMemoryBytes());
  }
}

TEST_F(TaskDataDynamic, MemoryFiguresKeepTheirFullWidth) {
  const ULONGLONG big = 6ull << 30;  // 6 GB
  World::figures.ramUsage = big;
  World::figures.privateBytes = big + 1;
#ifdef _WIN64
  World::sample.memory.WorkingSetSize = big;
  World::sample.memory.PeakWorkingSetSize = big + 4096;
  World::sample.memory.PagefileUsage = big;
#endif
  _TASKDATADYNAMIC d;
  d.QueryProcessData(42);
  EXPECT_EQ(big, d.GetRAMUsage());
  EXPECT_EQ(big + 1, d.GetPrivateBytes());
  EXPECT_EQ(DWORD(big / 1024), d.GetGraph()->GetDataPoint(World::now + 1, 1));
#ifdef _WIN64
  EXPECT_EQ(big, d.GetPhysicalMemoryBytes());
  EXPECT_EQ(big + 4096, d.GetPhysicalMemoryPeak());
  EXPECT_EQ(2 * big, d.GetTotalMemoryBytes());
  World::sample.memory.WorkingSetSize = big + 1000000;
  World::now += 999;
  d.QueryProcessData(42);
  EXPECT_EQ(1000000, d.GetPhysicalMemoryDelta());
#endif
}

TEST_F(TaskDataDynamic, TimesAndTheirDurationRecords) {
  const ULONGLONG created = 0x01D9000000000000ull;
  World::sample.timesOK = TRUE;
  World::sample.creation = Ft(created);
  World::sample.kernel = Ft(kDay + 2 * kHour);
  World::sample.user = Ft(30 * kDay);
  World::utcNow = Ft(created + 366 * kDay);
  _TASKDATADYNAMIC d;
  d.QueryProcessData(42);
  ASSERT_TRUE(d.IsProcessTimesOK());
  SYSTEMTIME t = d.GetRuntime();
  EXPECT_EQ(1602, t.wYear);
  EXPECT_EQ(1, t.wMonth);
  EXPECT_EQ(2, t.wDay);
  t = d.GetKernelTime();
  EXPECT_EQ(2, t.wDay);
  EXPECT_EQ(2, t.wHour);
  t = d.GetUserTime();
  EXPECT_EQ(1, t.wMonth);
  EXPECT_EQ(31, t.wDay);
  t = d.GetCPUTime();  // 31 days and 2 hours
  EXPECT_EQ(2, t.wMonth);
  EXPECT_EQ(1, t.wDay);
  EXPECT_EQ(2, t.wHour);
  ASSERT_NE(nullptr, d.GetCreationLPFileTime());
  EXPECT_EQ(created, ULONGLONG(d.GetCreationLPFileTime()->dwHighDateTime) << 32 |
                         d.GetCreationLPFileTime()->dwLowDateTime);
  FILETIME local, utc = Ft(created);
  SYSTEMTIME want;
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &want);
  t = d.GetCreationTime();
  EXPECT_EQ(want.wYear, t.wYear);
  EXPECT_EQ(want.wDay, t.wDay);
  EXPECT_EQ(want.wHour, t.wHour);

  // A clock set back behind the creation time gives no negative run time.
  World::utcNow = Ft(created - kHour);
  d.QueryProcessData(42);
  t = d.GetRuntime();
  EXPECT_EQ(1601, t.wYear);
  EXPECT_EQ(1, t.wDay);
  EXPECT_EQ(0, t.wHour);
}

TEST_F(TaskDataDynamic, AProcessThatCannotBeOpenedKeepsItsLastValues) {
  World::sample.timesOK = TRUE;
  World::sample.creation = Ft(0x01D9000000000000ull);
  World::sample.memory.WorkingSetSize = 5000000;
  World::sample.io.ReadTransferCount = 777;
  World::figures.cpuUsage = 12;
  _TASKDATADYNAMIC d;
  d.QueryProcessData(42);
  World::now += 500;
  World::sample.memory.WorkingSetSize = 6000000;
  d.QueryProcessData(42);
  EXPECT_NE(0, d.GetPhysicalMemoryDelta());
  EXPECT_EQ(DWORD(NORMAL_PRIORITY_CLASS), d.GetProcessPriority());

  World::opens = FALSE;
  World::figures.cpuUsage = 3;
  World::figures.handleCount = 99;
  World::now += 500;
  ASSERT_TRUE(d.QueryProcessData(42));
  EXPECT_FALSE(d.IsProcessTimesOK());
  EXPECT_EQ(6000000u, d.GetPhysicalMemoryBytes());
  EXPECT_EQ(777u, d.GetIOReadTransferBytes());
  EXPECT_EQ(0, d.GetPhysicalMemoryDelta());
  EXPECT_EQ(0u, d.GetIOReadTransferDelta());
  EXPECT_EQ(0u, d.GetProcessPriority());
  EXPECT_EQ(3u, d.GetCPUUsage());
  EXPECT_EQ(99u, d.GetHandleCount());
  EXPECT_EQ(0x01D90000u, d.GetCreationLPFileTime()->dwHighDateTime);
}

TEST_F(TaskDataDynamic, ANewPidRestartsTheValuesAndTheGraph) {
  World::figures.cpuUsage = 50;
  World::figures.ramUsage = 2048 * 1024;
  World::sample.memory.WorkingSetSize = 1000;
  _TASKDATADYNAMIC d;
  EXPECT_EQ(nullptr, d.GetGraph());
  d.QueryProcessData(42);
  const DWORD first = World::now;
  World::now += 1000;
  d.QueryProcessData(42);
  quarl::PERFGRAPH* g = d.GetGraph();
  ASSERT_NE(nullptr, g);
  EXPECT_EQ(50u, g->GetDataPoint(first, 0));
  EXPECT_EQ(50u, g->GetScaledDataPoint(first, 0));  // series 0 scales to 100
  EXPECT_EQ(2048u, g->GetDataPoint(World::now + 1, 1));

  World::figures.cpuUsage = 7;
  World::sample.memory.WorkingSetSize = 900000;
  World::now += 1000;
  d.QueryProcessData(43);
  EXPECT_EQ(43u, d.GetProcessID());
  EXPECT_EQ(0, d.GetPhysicalMemoryDelta());  // measured against nothing
  ASSERT_NE(nullptr, d.GetGraph());
  EXPECT_EQ(0u, d.GetGraph()->GetDataPoint(first, 0));
  EXPECT_EQ(7u, d.GetGraph()->GetDataPoint(World::now + 1, 0));
}

TEST_F(TaskDataDynamic, DeletedRecordAnswersZero) {
  World::figures.cpuUsage = 50;
  World::sample.timesOK = TRUE;
  World::sample.kernel = Ft(kDay);
  _TASKDATADYNAMIC d;
  d.QueryProcessData(42);
  EXPECT_TRUE(d.Delete());
  EXPECT_FALSE(d.IsClassReady());
  EXPECT_FALSE(d.QueryProcessData(42));
  EXPECT_EQ(0u, d.GetCPUUsage());
  EXPECT_EQ(nullptr, d.GetCreationLPFileTime());
  EXPECT_EQ(nullptr, d.GetGraph());
  EXPECT_EQ(0, d.GetKernelTime().wYear);
  EXPECT_TRUE(d.Init());
  EXPECT_TRUE(d.QueryProcessData(42));
  EXPECT_EQ(50u, d.GetCPUUsage());
}

// Committed private memory of this process, from its address map: Wine's
// process counters do not show heap growth.
ULONGLONG CommittedPrivate() {
  ULONGLONG total = 0;
  MEMORY_BASIC_INFORMATION m;
  BYTE* p = nullptr;
  while (VirtualQuery(p, &m, sizeof m) == sizeof m) {
    if (m.State == MEM_COMMIT && m.Type == MEM_PRIVATE) total += m.RegionSize;
    BYTE* next = static_cast<BYTE*>(m.BaseAddress) + m.RegionSize;
    if (next <= p) break;
    p = next;
  }
  return total;
}

TEST_F(TaskDataDynamic, ClearingAfterTheGraphStartedReleasesIt) {
  _TASKDATADYNAMIC d;
  auto round = [&](int i) {
    d.QueryProcessData(DWORD(i + 1));  // starts a graph
    if (i % 2)
      d.ReInit();
    else {
      d.Delete();
      d.Init();
    }
  };
  for (int i = 0; i < 200; ++i) round(i);  // the heap settles
  const ULONGLONG before = CommittedPrivate();
  // Each graph holds two series of 361 points: about 9 KB.
  for (int i = 0; i < 4000; ++i) round(i);
  const ULONGLONG grown = CommittedPrivate() - before;
  EXPECT_LT(grown, 8ull << 20) << "graphs leaked: " << grown << " bytes";
}

// Both locks (the record's and its version record's) are released with the
// record, however often it is renewed.
TEST_F(TaskDataStatic, RenewingReleasesTheLocks) {
  kinetra::_IMAGEINFO info;
  _TASKDATASTATIC s;
  for (int i = 0; i < 2000; ++i) {
    info.ReInit();
    s.ReInit();
  }
  const ULONGLONG before = CommittedPrivate();
  for (int i = 0; i < 60000; ++i) {
    info.ReInit();
    s.ReInit();
  }
  const ULONGLONG grown = CommittedPrivate() - before;
  EXPECT_LT(grown, 2ull << 20) << "locks leaked: " << grown << " bytes";
  EXPECT_TRUE(info.IsClassReady());
  EXPECT_TRUE(s.IsClassReady());
}

// ---- the live system -------------------------------------------------------------

std::wstring Lower(std::wstring s) {
  for (auto& c : s) c = wchar_t(towlower(c));
  return s;
}

// The record reads this process the way it reads any other one, memory included.
TEST(TaskDataRemoteRead, ThisProcess) {
  const DWORD self = GetCurrentProcessId();
  _TASKDATASTATIC s;
  ASSERT_TRUE(s.QueryProcessData(self, 0));
  EXPECT_TRUE(s.IsPathOK());
  EXPECT_EQ(Lower(testutil::SelfPath()), Lower(s.GetPathName()));
  EXPECT_TRUE(s.IsCommandLineOK());
  EXPECT_STREQ(GetCommandLineW(), s.GetCommandLineW());
  EXPECT_TRUE(s.IsInfoOK());
  wchar_t user[256] = L"";
  ASSERT_TRUE(kinetra::GetGlobalLoadGaugeSourcePtr()->GetProcessUsername(self, user, 256));
  EXPECT_TRUE(s.IsUserOK());
  EXPECT_STREQ(user, s.GetUsername());
  EXPECT_NE(L'\0', user[0]);

  _TASKDATADYNAMIC d;
  ASSERT_TRUE(d.QueryProcessData(self));
  EXPECT_TRUE(d.IsProcessTimesOK());
  EXPECT_GT(d.GetPhysicalMemoryBytes(), 0u);
  EXPECT_NE(0u, d.GetProcessPriority());
}

int WaitForRelease(const wchar_t* base) {
  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (std::wstring(base) + L"-ready").c_str());
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, (std::wstring(base) + L"-release").c_str());
  if (!ready || !release) return 2;
  SetEvent(ready);
  return WaitForSingleObject(release, 120000) == WAIT_OBJECT_0 ? 0 : 3;
}
testutil::ChildRole waitRole(L"taskdata-wait", WaitForRelease);

TEST(TaskDataSpawn, ARunningChild) {
  const std::wstring base = testutil::BitnessName(L"lk-taskdata-") + std::to_wstring(GetCurrentProcessId());
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, (base + L"-ready").c_str());
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, (base + L"-release").c_str());
  testutil::Child child;
  ASSERT_TRUE(child.Start(L"taskdata-wait", base.c_str()));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 120000));
  FILETIME startedBefore;
  GetSystemTimeAsFileTime(&startedBefore);

  // The performance source learns of new processes at its next refresh; there is
  // no event for that, so ask it until it knows the child.
  kinetra::KN_LOADGAUGESOURCE* source = kinetra::GetGlobalLoadGaugeSourcePtr();
  wchar_t user[256] = L"";
  for (int i = 0; i < 500 && !source->GetProcessUsername(child.Pid(), user, 256); ++i) Sleep(20);

  _TASKDATASTATIC s;
  ASSERT_TRUE(s.QueryProcessData(child.Pid(), GetCurrentProcessId()));
  EXPECT_TRUE(s.IsPathOK());
  EXPECT_EQ(Lower(testutil::SelfPath()), Lower(s.GetPathName()));
  EXPECT_TRUE(s.IsCommandLineOK());
  EXPECT_EQ(child.CommandLine(), s.GetCommandLineW());
  EXPECT_TRUE(s.IsInfoOK());
  EXPECT_STREQ(user, s.GetUsername());

  _TASKDATADYNAMIC d;
  ASSERT_TRUE(d.QueryProcessData(child.Pid()));
  ASSERT_TRUE(d.IsProcessTimesOK());
  const FILETIME* created = d.GetCreationLPFileTime();
  ULONGLONG c = ULONGLONG(created->dwHighDateTime) << 32 | created->dwLowDateTime;
  ULONGLONG b = ULONGLONG(startedBefore.dwHighDateTime) << 32 | startedBefore.dwLowDateTime;
  EXPECT_LE(c, b);
  EXPECT_LT(b - c, 300 * 1000 * kMs);  // created within the last five minutes
  EXPECT_EQ(1601, d.GetRuntime().wYear);
  EXPECT_EQ(1, d.GetRuntime().wDay);
  EXPECT_EQ(DWORD(NORMAL_PRIORITY_CLASS), d.GetProcessPriority());
  EXPECT_GT(d.GetPhysicalMemoryBytes(), 0u);
  EXPECT_GT(d.GetRAMUsage(), 0u);
  EXPECT_NE(nullptr, d.GetGraph());

  SetEvent(release);
  EXPECT_EQ(0u, child.WaitExit(60000));
  CloseHandle(ready);
  CloseHandle(release);
}

}  // namespace
