#include "kinetra/ntapi.h"

#include "quarl/base/once.h"
#include "quarl/base/procaddr.h"
#include "quarl/base/strfmt.h"

namespace kinetra {
namespace {

NTAPI_ENTRIES g_nt;
volatile LONG g_ntOnce;
PFN_NtQuerySystemInformation g_queryOverride;

// Grown lengths: each retry adds 64 KB to the length tried before; after this
// many the table is taken to be growing faster than it can be read.
constexpr int kMaxRetries = 256;
constexpr ULONG kGrowStep = 65536;

}  // namespace

const NTAPI_ENTRIES& GetNtApi() {
  quarl::RunOnce(&g_ntOnce, [] {
    HMODULE nt = GetModuleHandleW(L"ntdll.dll");
    g_nt.NtQueryObject = quarl::BindProc<PFN_NtQueryObject>(nt, "NtQueryObject");
    g_nt.NtQuerySystemInformation = quarl::BindProc<PFN_NtQuerySystemInformation>(nt, "NtQuerySystemInformation");
    g_nt.NtQueryInformationFile = quarl::BindProc<PFN_NtQueryInformationFile>(nt, "NtQueryInformationFile");
    g_nt.NtQueryInformationThread = quarl::BindProc<PFN_NtQueryInformationThread>(nt, "NtQueryInformationThread");
    g_nt.NtQueryInformationProcess = quarl::BindProc<PFN_NtQueryInformationProcess>(nt, "NtQueryInformationProcess");
  });
  return g_nt;
}

PFN_NtQuerySystemInformation SetSystemQueryOverride(PFN_NtQuerySystemInformation fn) {
  return reinterpret_cast<PFN_NtQuerySystemInformation>(
      InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&g_queryOverride),
                                 reinterpret_cast<PVOID>(fn)));
}

BOOL BindSnapshotEntries(SNAPSHOT_ENTRIES* e) {
  HMODULE nt = GetModuleHandleW(L"ntdll.dll");
  HMODULE user = GetModuleHandleW(L"user32.dll");
  HMODULE k32 = GetModuleHandleW(L"kernel32.dll");
  PFN_NtQuerySystemInformation over = g_queryOverride;
  e->NtQuerySystemInformation = over ? over : quarl::BindProc<PFN_NtQuerySystemInformation>(nt, "NtQuerySystemInformation");
  e->GetGuiResources = quarl::BindProc<PFN_GetGuiResources>(user, "GetGuiResources");
  e->GetProcessIoCounters = quarl::BindProc<PFN_GetProcessIoCounters>(k32, "GetProcessIoCounters");
  return e->NtQuerySystemInformation != nullptr;
}

BOOL TakeProcessSnapshot(PFN_NtQuerySystemInformation query, SNAPSHOT_BUFFER* out) {
  out->data = nullptr;
  out->size = 0;
  if (!query) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
  }
  ULONG need = 0;
  query(kSystemProcessInformation, nullptr, 0, &need);
  if (need == 0) need = kGrowStep;
  HANDLE heap = GetProcessHeap();
  for (int attempt = 0; attempt <= kMaxRetries; ++attempt) {
    BYTE* buf = static_cast<BYTE*>(HeapAlloc(heap, 0, need));
    if (!buf) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return FALSE;
    }
    ULONG filled = 0;
    NTSTATUS_T st = query(kSystemProcessInformation, buf, need, &filled);
    if (st == kStatusSuccess) {
      out->data = buf;
      out->size = (filled && filled <= need) ? filled : need;
      return TRUE;
    }
    HeapFree(heap, 0, buf);
    if (st != kStatusInfoLengthMismatch) {
      // Whatever the system left in the buffer is not a snapshot.
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    if (need > 0xFFFFFFFFu - kGrowStep) break;
    need += kGrowStep;
  }
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return FALSE;
}

void FreeProcessSnapshot(SNAPSHOT_BUFFER* snap) {
  if (snap->data) HeapFree(GetProcessHeap(), 0, snap->data);
  snap->data = nullptr;
  snap->size = 0;
}

void SnapshotWalker::Next() {
  if (offset_ == kEnd) return;
  ULONG step = Current()->NextEntryOffset;
  ULONG next = offset_ + step;
  if (step == 0 || next < offset_ || next > size_ || size_ - next < sizeof(KN_SYSTEM_PROCESS_INFORMATION))
    offset_ = kEnd;
  else
    offset_ = next;
}

const KN_SYSTEM_THREAD_INFORMATION* SnapshotWalker::Threads() const {
  const KN_SYSTEM_PROCESS_INFORMATION* r = Current();
  if (!r) return nullptr;
  ULONG first = offset_ + ULONG(sizeof(KN_SYSTEM_PROCESS_INFORMATION));
  ULONGLONG bytes = ULONGLONG(r->NumberOfThreads) * sizeof(KN_SYSTEM_THREAD_INFORMATION);
  if (r->NumberOfThreads == 0 || first + bytes > size_) return nullptr;
  return reinterpret_cast<const KN_SYSTEM_THREAD_INFORMATION*>(base_ + first);
}

size_t CopyImageName(const SNAPSHOT_BUFFER& snap, const KN_SYSTEM_PROCESS_INFORMATION* r, wchar_t* buf,
                     size_t cch) {
  const BYTE* name = r ? reinterpret_cast<const BYTE*>(r->ImageName.Buffer) : nullptr;
  size_t chars = r ? r->ImageName.Length / sizeof(wchar_t) : 0;
  // The name must lie inside the snapshot; anything else is not ours to read.
  if (!name || name < snap.data || name + chars * sizeof(wchar_t) > snap.data + snap.size) {
    quarl::CopyW(buf, cch, L"");
    return 0;
  }
  quarl::CopyNW(buf, cch, reinterpret_cast<const wchar_t*>(name), chars);
  return chars;
}

}  // namespace kinetra
