#include "kinetra/ntprocesslist.h"

#include <gtest/gtest.h>

#include <string>

#include "kinetra/library.h"
#include "tests/common/testutil.h"
#include "tests/kinetra/fakesnapshot.h"

using kinetra::_NTPROCESSLIST;

namespace {

constexpr DWORD kNone = 0xFFFFFFFF;

fake::Snapshot WindowsLike() {
  fake::Snapshot s;
  s.Add({0, 0, L"", 2});  // the idle process: no name
  s.Add({4, 0, L"System", 3});
  s.Add({300, 4, L"smss.exe"});
  s.Add({1200, 300, L"explorer.exe", 5});
  return s;
}

TEST(NtProcessList, IdleRecordIsNeverAnItem) {
  fake::Script script = fake::Script::Of(WindowsLike());
  fake::Scope scope(&script);
  _NTPROCESSLIST list;
  ASSERT_TRUE(list.IsClassReady());
  ASSERT_TRUE(list.UpdateNull());
  EXPECT_EQ(3u, list.GetProcessCount());
  EXPECT_EQ(4u, list.GetItemProcessID(0));
  EXPECT_EQ(300u, list.GetItemProcessID(1));
  EXPECT_EQ(1200u, list.GetItemProcessID(2));
  EXPECT_EQ(kNone, list.GetItemProcessID(3));
  EXPECT_EQ(kNone, list.GetProcessParentPID(0));  // idle is in the buffer, not found
  EXPECT_EQ(0u, list.GetProcessParentPID(4));
  EXPECT_EQ(300u, list.GetProcessParentPID(1200));
  EXPECT_EQ(kNone, list.GetProcessParentPID(77));

  wchar_t name[32];
  EXPECT_EQ(0u, list.GetProcessImageName(1200, name, 32));
  EXPECT_STREQ(L"explorer.exe", name);
  EXPECT_EQ(0u, list.GetProcessImageName(1200, name, 5));  // bounded
  EXPECT_STREQ(L"expl", name);
  wcscpy(name, L"untouched");
  list.GetProcessImageName(77, name, 32);
  EXPECT_STREQ(L"untouched", name);
  list.GetProcessImageName(0, name, 32);
  EXPECT_STREQ(L"untouched", name);
}

TEST(NtProcessList, IdleOnlySnapshotHasNoItems) {
  fake::Snapshot snap;
  snap.Add({0, 0, L"", 1});
  fake::Script script;
  script.Load(snap);
  fake::Scope scope(&script);
  _NTPROCESSLIST list;
  ASSERT_TRUE(list.UpdateNull());
  EXPECT_EQ(0u, list.GetProcessCount());
  EXPECT_EQ(kNone, list.GetItemProcessID(0));

  TL_NTPROCESSLIST tl;
  ASSERT_TRUE(tl.Init());
  EXPECT_EQ(1u, tl.GetNTProcessThreadCount(0));  // the thread list does find it
}

TEST(NtProcessList, WineSnapshotWithoutIdleRecordKeepsItsFirstProcess) {
  fake::Snapshot snap;
  snap.Add({32, 0, L"services.exe"});
  snap.Add({56, 32, L"winedevice.exe"});
  snap.Add({80, 32, L"plugplay.exe"});
  fake::Script script;
  script.Load(snap);
  fake::Scope scope(&script);
  _NTPROCESSLIST list;
  ASSERT_TRUE(list.UpdateNull());
  EXPECT_EQ(3u, list.GetProcessCount());
  EXPECT_EQ(32u, list.GetItemProcessID(0));
  EXPECT_EQ(80u, list.GetItemProcessID(2));
  EXPECT_EQ(0u, list.GetProcessParentPID(32));
}

TEST(NtProcessList, GrowingTableIsAbsorbedBy64KRetries) {
  fake::Script script = fake::Script::Of(WindowsLike());
  const ULONG size = ULONG(script.bytes.size());
  script.extraNeeded = 150000;  // the table grows after it was sized
  fake::Scope scope(&script);
  _NTPROCESSLIST list;
  ASSERT_TRUE(list.UpdateNull());
  // The grown length is the first length plus 64 KB per retry, not the newly
  // reported one.
  std::vector<ULONG> want = {size, size + 65536, size + 2 * 65536, size + 3 * 65536};
  EXPECT_EQ(want, script.fillLengths);
  EXPECT_EQ(3u, list.GetProcessCount());
}

TEST(NtProcessList, FailedFillKeepsNoBuffer) {
  fake::Script script = fake::Script::Of(WindowsLike());
  fake::Scope scope(&script);
  _NTPROCESSLIST list;
  TL_NTPROCESSLIST tl;
  ASSERT_TRUE(list.UpdateNull());
  ASSERT_TRUE(tl.Init());
  ASSERT_EQ(3u, list.GetProcessCount());

  const size_t fillsBefore = script.fillLengths.size();
  script.failStatus = LONG(0xC0000022);  // access denied: the buffer is garbage
  EXPECT_FALSE(list.UpdateNull());
  EXPECT_EQ(0u, list.GetProcessCount());
  EXPECT_EQ(kNone, list.GetItemProcessID(0));
  EXPECT_EQ(kNone, list.GetProcessParentPID(4));
  EXPECT_FALSE(tl.UpdateNull());
  EXPECT_EQ(0u, tl.GetNTProcessThreadCount(4));
  EXPECT_EQ(nullptr, tl.GetNTProcessThreads(4));
  EXPECT_EQ(fillsBefore + 2, script.fillLengths.size());  // one try each, no retries
}

// Corruptions of the second record's link and of a name pointer.
void LinkOutside(BYTE* b) {
  auto r = reinterpret_cast<kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(b);
  auto second = reinterpret_cast<kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(b + r->NextEntryOffset);
  second->NextEntryOffset = 0x7FFFFFF0;
}
void LinkToSelf(BYTE* b) {
  auto r = reinterpret_cast<kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(b);
  r->NextEntryOffset = 0;  // the idle record claims to be the last
}
void NameOutside(BYTE* b) {
  auto r = reinterpret_cast<kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(b);
  auto second = reinterpret_cast<kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(b + r->NextEntryOffset);
  second->ImageName.Buffer = reinterpret_cast<PWSTR>(b - 4096);
  second->ImageName.Length = 0xFFFE;
}

TEST(NtProcessList, BadLinksEndTheWalkInsideTheBuffer) {
  struct Case {
    void (*mangle)(BYTE*);
    DWORD count;
    DWORD threadsOfLast;
  } cases[] = {{LinkOutside, 1, 0}, {LinkToSelf, 0, 0}, {NameOutside, 3, 5}};
  for (const Case& c : cases) {
    fake::Script script = fake::Script::Of(WindowsLike());
    script.mangle = c.mangle;
    fake::Scope scope(&script);
    _NTPROCESSLIST list;
    TL_NTPROCESSLIST tl;
    ASSERT_TRUE(list.UpdateNull());
    ASSERT_TRUE(tl.Init());
    EXPECT_EQ(c.count, list.GetProcessCount());
    EXPECT_EQ(c.threadsOfLast, tl.GetNTProcessThreadCount(1200)) << c.count;
    if (c.mangle == NameOutside) {
      wchar_t name[16] = L"x";
      list.GetProcessImageName(4, name, 16);
      EXPECT_STREQ(L"", name);  // not read from outside the snapshot
    }
  }
}

TEST(NtProcessList, SelfLinkedRecordDoesNotLoopForever) {
  fake::Script script = fake::Script::Of(WindowsLike());
  script.mangle = [](BYTE* b) {
    auto r = reinterpret_cast<kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(b);
    auto second = reinterpret_cast<kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(b + r->NextEntryOffset);
    second->NextEntryOffset = ULONG(0) - r->NextEntryOffset;  // back to the first
  };
  fake::Scope scope(&script);
  _NTPROCESSLIST list;
  ASSERT_TRUE(list.UpdateNull());
  EXPECT_EQ(1u, list.GetProcessCount());
}

TEST(NtProcessList, ThreadRecordsBeginAfterTheWholeProcessRecord) {
  fake::Script script = fake::Script::Of(WindowsLike());
  fake::Scope scope(&script);
  TL_NTPROCESSLIST tl;
  ASSERT_TRUE(tl.Init());
  EXPECT_FALSE(tl.IsReady());  // the status word stays 0
  EXPECT_EQ(2u, tl.GetNTProcessThreadCount(0));
  EXPECT_EQ(5u, tl.GetNTProcessThreadCount(1200));
  EXPECT_EQ(0u, tl.GetNTProcessThreadCount(99));
  const kinetra::KN_SYSTEM_THREAD_INFORMATION* t = tl.GetNTProcessThreads(1200);
  ASSERT_NE(nullptr, t);
  for (ULONG i = 0; i < 5; ++i) {
    EXPECT_EQ(1200u, ULONG_PTR(t[i].ClientId.UniqueProcess));
    EXPECT_EQ(120000u + i, ULONG_PTR(t[i].ClientId.UniqueThread));
  }
  EXPECT_EQ(nullptr, tl.GetNTProcessThreads(99));
}

TEST(NtProcessList, ThreadCountBeyondTheBufferGivesNoThreads) {
  fake::Script script = fake::Script::Of(WindowsLike());
  script.mangle = [](BYTE* b) {
    auto r = reinterpret_cast<kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(b);
    r->NumberOfThreads = 0x10000000;
  };
  fake::Scope scope(&script);
  TL_NTPROCESSLIST tl;
  ASSERT_TRUE(tl.Init());
  EXPECT_EQ(nullptr, tl.GetNTProcessThreads(0));
}

TEST(NtProcessList, DeletedObjectAnswersEmpty) {
  fake::Script script = fake::Script::Of(WindowsLike());
  fake::Scope scope(&script);
  _NTPROCESSLIST list;
  ASSERT_TRUE(list.UpdateNull());
  EXPECT_TRUE(list.Delete());
  EXPECT_FALSE(list.IsClassReady());
  EXPECT_EQ(0u, list.GetProcessCount());
  EXPECT_EQ(kNone, list.GetItemProcessID(0));
  EXPECT_FALSE(list.UpdateNull());
  EXPECT_TRUE(list.ReInit());
  EXPECT_TRUE(list.IsClassReady());
  EXPECT_EQ(0u, list.GetProcessCount());  // no snapshot yet
  ASSERT_TRUE(list.UpdateNull());
  EXPECT_EQ(3u, list.GetProcessCount());
}

// ---- the live system --------------------------------------------------------

int WaitForRelease(const wchar_t* eventName) {
  HANDLE e = OpenEventW(SYNCHRONIZE, FALSE, eventName);
  if (!e) return 2;
  return WaitForSingleObject(e, 60000) == WAIT_OBJECT_0 ? 0 : 3;
}
testutil::ChildRole waitRole(L"wait-for-release", WaitForRelease);

std::wstring BaseName(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

TEST(NtProcessListLive, FindsItselfAndItsThreads) {
  _NTPROCESSLIST list;
  ASSERT_TRUE(list.UpdateNull());
  const DWORD self = GetCurrentProcessId();
  bool found = false;
  for (DWORD i = 0; i < list.GetProcessCount(); ++i) {
    EXPECT_NE(0u, list.GetItemProcessID(i));
    found = found || list.GetItemProcessID(i) == self;
  }
  EXPECT_TRUE(found);
  wchar_t name[MAX_PATH] = L"";
  list.GetProcessImageName(self, name, MAX_PATH);
  EXPECT_EQ(0, lstrcmpiW(BaseName(testutil::SelfPath()).c_str(), name)) << name;

  TL_NTPROCESSLIST tl;
  ASSERT_TRUE(tl.Init());
  const DWORD threads = tl.GetNTProcessThreadCount(self);
  ASSERT_GE(threads, 1u);
  const kinetra::KN_SYSTEM_THREAD_INFORMATION* t = tl.GetNTProcessThreads(self);
  ASSERT_NE(nullptr, t);
  bool mine = false;
  for (DWORD i = 0; i < threads; ++i)
    mine = mine || DWORD(ULONG_PTR(t[i].ClientId.UniqueThread)) == GetCurrentThreadId();
  EXPECT_TRUE(mine);
}

TEST(NtProcessListSpawn, FindsItsChild) {
  const DWORD self = GetCurrentProcessId();
  _NTPROCESSLIST list;
  wchar_t name[MAX_PATH];
  const std::wstring eventName = testutil::BitnessName(L"lk-release-child");
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  testutil::Child child;
  ASSERT_TRUE(child.Start(L"wait-for-release", eventName.c_str()));
  ASSERT_TRUE(list.UpdateNull());
  EXPECT_EQ(self, list.GetProcessParentPID(child.Pid()));
  name[0] = 0;
  list.GetProcessImageName(child.Pid(), name, MAX_PATH);
  EXPECT_EQ(0, lstrcmpiW(BaseName(testutil::SelfPath()).c_str(), name));
  SetEvent(release);
  EXPECT_EQ(0u, child.WaitExit(30000));
  CloseHandle(release);
}

TEST(NtProcessListLive, GenericProgramIconsAreLoadedOnFirstUse) {
  EXPECT_NE(nullptr, kinetra::GetGenericProgramIcon(TRUE));
  EXPECT_NE(nullptr, kinetra::GetGenericProgramIcon(FALSE));
  EXPECT_NE(nullptr, kinetra::GetKinetraInstance());
}

}  // namespace
