#include "tests/kinetra/fakesnapshot.h"

#include <cstring>

namespace fake {
namespace {

Script* g_script;

size_t Align8(size_t v) { return (v + 7) & ~size_t(7); }

LONG NTAPI FakeQuery(ULONG infoClass, PVOID buffer, ULONG length, PULONG returnLength) {
  Script& s = *g_script;
  if (buffer && length) ++s.calls[infoClass];
  if (infoClass != kinetra::kSystemProcessInformation) {
    auto it = s.records.find(infoClass);
    if (it == s.records.end()) return LONG(0xC0000003);
    ULONG size = ULONG(it->second.size());
    if (returnLength) *returnLength = size;
    if (!buffer || length < size) return kinetra::kStatusInfoLengthMismatch;
    memcpy(buffer, it->second.data(), size);
    return s.failStatus && infoClass == s.failClass ? s.failStatus : kinetra::kStatusSuccess;
  }
  ULONG trueSize = ULONG(s.bytes.size()) + s.extraNeeded;
  if (!buffer || length == 0) {
    if (returnLength) *returnLength = ULONG(s.bytes.size());
    return kinetra::kStatusInfoLengthMismatch;
  }
  s.fillLengths.push_back(length);
  if (s.failStatus && s.failClass == infoClass) {
    memset(buffer, 0xCC, length);  // garbage that must never be walked
    return s.failStatus;
  }
  if (length < trueSize) {
    if (returnLength) *returnLength = trueSize;
    return kinetra::kStatusInfoLengthMismatch;
  }
  BYTE* out = static_cast<BYTE*>(buffer);
  memcpy(out, s.bytes.data(), s.bytes.size());
  // Image names point into the caller's buffer, as the system's do.
  size_t off = 0;
  for (size_t i = 0; i < s.nameOffsets.size(); ++i) {
    auto rec = reinterpret_cast<kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(out + off);
    if (rec->ImageName.Length) rec->ImageName.Buffer = reinterpret_cast<PWSTR>(out + s.nameOffsets[i]);
    off += rec->NextEntryOffset;
  }
  if (s.mangle) s.mangle(out);
  if (returnLength) *returnLength = ULONG(s.bytes.size());
  return kinetra::kStatusSuccess;
}

}  // namespace

std::vector<BYTE> Snapshot::Build() {
  const size_t recSize = sizeof(kinetra::KN_SYSTEM_PROCESS_INFORMATION);
  const size_t thrSize = sizeof(kinetra::KN_SYSTEM_THREAD_INFORMATION);
  recordOffsets.clear();
  nameOffsets.clear();
  size_t total = 0;
  for (const Proc& p : procs_) {
    recordOffsets.push_back(total);
    total = Align8(total + recSize + p.threads * thrSize);
  }
  for (const Proc& p : procs_) {
    nameOffsets.push_back(total);
    total = Align8(total + (p.name.size() + 1) * sizeof(wchar_t));
  }
  std::vector<BYTE> out(total, 0);
  for (size_t i = 0; i < procs_.size(); ++i) {
    const Proc& p = procs_[i];
    auto rec = reinterpret_cast<kinetra::KN_SYSTEM_PROCESS_INFORMATION*>(&out[recordOffsets[i]]);
    rec->NextEntryOffset = i + 1 < procs_.size() ? ULONG(recordOffsets[i + 1] - recordOffsets[i]) : 0;
    rec->NumberOfThreads = p.threads;
    rec->UniqueProcessId = reinterpret_cast<HANDLE>(ULONG_PTR(p.pid));
    rec->InheritedFromUniqueProcessId = reinterpret_cast<HANDLE>(ULONG_PTR(p.parent));
    rec->ImageName.Length = USHORT(p.name.size() * sizeof(wchar_t));
    rec->ImageName.MaximumLength = USHORT(rec->ImageName.Length + sizeof(wchar_t));
    rec->KernelTime.QuadPart = p.kernelTime;
    rec->UserTime.QuadPart = p.userTime;
    rec->WorkingSetSize = p.workingSet;
    rec->PeakWorkingSetSize = p.peakWorkingSet;
    rec->VirtualSize = p.virtualSize;
    rec->PrivatePageCount = p.privateBytes;
    rec->QuotaPagedPoolUsage = p.pagedPool;
    rec->QuotaNonPagedPoolUsage = p.nonPagedPool;
    rec->PageFaultCount = p.pageFaults;
    rec->HandleCount = p.handles;
    rec->SessionId = p.session;
    rec->BasePriority = p.basePriority;
    rec->CreateTime.QuadPart = p.createTime;
    auto thr = reinterpret_cast<kinetra::KN_SYSTEM_THREAD_INFORMATION*>(rec + 1);
    for (ULONG t = 0; t < p.threads; ++t) {
      thr[t].ClientId.UniqueProcess = rec->UniqueProcessId;
      thr[t].ClientId.UniqueThread = reinterpret_cast<HANDLE>(ULONG_PTR(p.pid * 100 + t));
    }
    memcpy(&out[nameOffsets[i]], p.name.c_str(), p.name.size() * sizeof(wchar_t));
  }
  return out;
}

void Script::Load(Snapshot& s) {
  bytes = s.Build();
  nameOffsets = s.nameOffsets;
}

Scope::Scope(Script* s) {
  g_script = s;
  kinetra::SetSystemQueryOverride(FakeQuery);
}

Scope::~Scope() {
  kinetra::SetSystemQueryOverride(nullptr);
  g_script = nullptr;
}

}  // namespace fake
