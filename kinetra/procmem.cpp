#include "kinetra/procmem.h"

#include <shlwapi.h>

#include <cstring>
#include <cwctype>

#include "kinetra/handles.h"
#include "kinetra/ntapi.h"
#include "quarl/base/procaddr.h"
#include "quarl/base/strfmt.h"

namespace kinetra {
namespace {

// The leading part of a process environment block and of its parameters, for a
// target whose pointers are Ptr wide (the reader's own width, or 32 bits for a
// WOW64 target of a 64-bit reader).
template <typename Ptr>
struct UNICODE_STRING_T {
  USHORT Length;
  USHORT MaximumLength;
  Ptr Buffer;
};

template <typename Ptr>
struct PEB_T {
  BYTE Flags[4];
  Ptr Mutant;
  Ptr ImageBaseAddress;
  Ptr Ldr;
  Ptr ProcessParameters;
};

template <typename Ptr>
struct PROCESS_PARAMETERS_T {
  ULONG MaximumLength;
  ULONG Length;
  ULONG Flags;
  ULONG DebugFlags;
  Ptr ConsoleHandle;
  ULONG ConsoleFlags;
  Ptr StandardInput;
  Ptr StandardOutput;
  Ptr StandardError;
  UNICODE_STRING_T<Ptr> CurrentDirectoryPath;
  Ptr CurrentDirectoryHandle;
  UNICODE_STRING_T<Ptr> DllPath;
  UNICODE_STRING_T<Ptr> ImagePathName;
  UNICODE_STRING_T<Ptr> CommandLine;
  Ptr Environment;
};

static_assert(offsetof(PEB_T<ULONG>, ProcessParameters) == 16);
static_assert(offsetof(PEB_T<ULONGLONG>, ProcessParameters) == 32);
static_assert(offsetof(PROCESS_PARAMETERS_T<ULONG>, ImagePathName) == 56);
static_assert(offsetof(PROCESS_PARAMETERS_T<ULONG>, ImagePathName.Buffer) == 60);
static_assert(offsetof(PROCESS_PARAMETERS_T<ULONG>, CommandLine) == 64);
static_assert(offsetof(PROCESS_PARAMETERS_T<ULONG>, Environment) == 72);
static_assert(offsetof(PROCESS_PARAMETERS_T<ULONGLONG>, ImagePathName) == 0x60);
static_assert(offsetof(PROCESS_PARAMETERS_T<ULONGLONG>, CommandLine) == 0x70);
static_assert(offsetof(PROCESS_PARAMETERS_T<ULONGLONG>, Environment) == 0x80);

struct KN_PROCESS_BASIC_INFORMATION {
  NTSTATUS_T ExitStatus;
  PVOID PebBaseAddress;
  ULONG_PTR AffinityMask;
  LONG BasePriority;
  ULONG_PTR UniqueProcessId;
  ULONG_PTR InheritedFromUniqueProcessId;
};
#ifdef _WIN64
static_assert(sizeof(KN_PROCESS_BASIC_INFORMATION) == 48);
#else
static_assert(sizeof(KN_PROCESS_BASIC_INFORMATION) == 24);
#endif

constexpr ULONG kProcessBasicInformation = 0;
constexpr ULONG kProcessWow64Information = 26;
constexpr DWORD kEnvironmentCut = 8192;

BOOL ReadExactly(HANDLE process, ULONGLONG address, void* out, SIZE_T bytes) {
  SIZE_T got = 0;
  if (address == 0 || address > ULONGLONG(~ULONG_PTR(0))) return FALSE;
  return ReadProcessMemory(process, reinterpret_cast<LPCVOID>(ULONG_PTR(address)), out, bytes, &got) &&
         got == bytes;
}

constexpr ULONG kParamsNormalized = 1;

template <typename Ptr>
BOOL Plausible(const UNICODE_STRING_T<Ptr>& s) {
  return s.Length % 2 == 0 && s.Length <= s.MaximumLength && (s.Length == 0 || s.Buffer != 0);
}

template <typename Ptr>
BOOL ReadParametersAt(HANDLE process, ULONGLONG peb, KN_PARAMETERS_VIEW* out) {
  PEB_T<Ptr> block;
  PROCESS_PARAMETERS_T<Ptr> params;
  if (!ReadExactly(process, peb, &block, sizeof block)) return FALSE;
  if (!ReadExactly(process, block.ProcessParameters, &params, sizeof params)) return FALSE;
  // Whatever was found must look like a running process's parameters; a block
  // of another layout (or none) is refused rather than read as one.
  if (!(params.Flags & kParamsNormalized) || params.Length < sizeof params || params.Length > params.MaximumLength ||
      !Plausible(params.ImagePathName) || !Plausible(params.CommandLine)) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  out->imagePath = params.ImagePathName.Buffer;
  out->imagePathBytes = params.ImagePathName.Length;
  out->commandLine = params.CommandLine.Buffer;
  out->commandLineBytes = params.CommandLine.Length;
  out->environment = params.Environment;
  return TRUE;
}

// The string's stated length is read and terminated here: the target's own
// terminator, if it has one, is not trusted.
BOOL ReadRemoteString(HANDLE process, ULONGLONG address, USHORT bytes, wchar_t* buf, size_t cch) {
  size_t chars = bytes / sizeof(wchar_t);
  if (chars == 0) return quarl::CopyW(buf, cch, L""), TRUE;
  HANDLE heap = GetProcessHeap();
  auto* text = static_cast<wchar_t*>(HeapAlloc(heap, 0, (chars + 1) * sizeof(wchar_t)));
  if (!text) return FALSE;
  BOOL ok = ReadExactly(process, address, text, chars * sizeof(wchar_t));
  if (ok) {
    text[chars] = L'\0';
    quarl::CopyNW(buf, cch, text, chars);
  }
  HeapFree(heap, 0, text);
  return ok;
}

HANDLE OpenForReading(DWORD pid) {
  return OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
}

// A process still starting up (it has not yet waited for input the first time)
// has no reliable parameters and modules yet.
BOOL StillStarting(HANDLE process) { return WaitForInputIdle(process, 1) == WAIT_TIMEOUT; }

HANDLE OpenStarted(DWORD pid) {
  HANDLE process = OpenForReading(pid);
  if (process && StillStarting(process)) {
    CloseHandle(process);
    SetLastError(ERROR_NOT_READY);
    return nullptr;
  }
  return process;
}

#ifndef _WIN64
BOOL IsWow64(HANDLE process) {
  BOOL wow = FALSE;
  return IsWow64Process(process, &wow) && wow;
}
#endif

}  // namespace

BOOL ReadProcessParameters(HANDLE process, KN_PARAMETERS_VIEW* out) {
  memset(out, 0, sizeof *out);
  PFN_NtQueryInformationProcess query = GetNtApi().NtQueryInformationProcess;
  if (!query) return FALSE;
#ifdef _WIN64
  // A WOW64 target keeps its own 32-bit environment block and parameters.
  ULONG_PTR peb32 = 0;
  if (query(process, kProcessWow64Information, &peb32, sizeof peb32, nullptr) == kStatusSuccess && peb32) {
    // Wine answers with a flag instead of the block's address: nothing lies
    // in the first 64 KB, and guessing where the block is would read another
    // layout as this one.
    if (peb32 < 0x10000) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    return ReadParametersAt<ULONG>(process, peb32, out);
  }
#else
  if (IsWow64(GetCurrentProcess()) && !IsWow64(process)) {
    SetLastError(ERROR_NOT_SUPPORTED);  // a 64-bit target
    return FALSE;
  }
#endif
  // The caller's own block is known without asking the server.
  using PFN_RtlGetCurrentPeb = PVOID(NTAPI*)();
  auto currentPeb = quarl::BindProc<PFN_RtlGetCurrentPeb>(GetModuleHandleW(L"ntdll.dll"), "RtlGetCurrentPeb");
  if (currentPeb && GetProcessId(process) == GetCurrentProcessId())
    return ReadParametersAt<ULONG_PTR>(process, ULONG_PTR(currentPeb()), out);
  KN_PROCESS_BASIC_INFORMATION info = {};
  ULONG len = 0;
  if (query(process, kProcessBasicInformation, &info, sizeof info, &len) != kStatusSuccess || !info.PebBaseAddress)
    return FALSE;
  return ReadParametersAt<ULONG_PTR>(process, ULONG_PTR(info.PebBaseAddress), out);
}

namespace {

enum class ParameterText { ImagePath, CommandLine };

// One text of the target's parameters, read from an opened process (null: the
// open failed) that this closes. An empty image path counts as none; an empty
// command line is a command line.
BOOL ReadParameterText(HANDLE process, ParameterText which, wchar_t* buf, size_t cch) {
  if (!process) return FALSE;
  KN_PARAMETERS_VIEW view;
  BOOL ok = ReadProcessParameters(process, &view);
  if (ok && which == ParameterText::ImagePath)
    ok = view.imagePathBytes >= sizeof(wchar_t) && ReadRemoteString(process, view.imagePath, view.imagePathBytes, buf, cch);
  else if (ok)
    ok = ReadRemoteString(process, view.commandLine, view.commandLineBytes, buf, cch);
  CloseKeepingError(process);
  return ok;
}

}  // namespace

void NormalizeImagePath(wchar_t* path, size_t cch) {
  if (!path || cch == 0) return;
  if (wcsncmp(path, L"\\??\\", 4) == 0) memmove(path, path + 4, (wcslen(path + 4) + 1) * sizeof(wchar_t));
  if (_wcsnicmp(path, L"\\SystemRoot\\", 12) == 0) {
    wchar_t windows[MAX_PATH] = L"";
    wchar_t joined[2 * MAX_PATH + 2];
    GetWindowsDirectoryW(windows, MAX_PATH);
    quarl::FormatW(joined, sizeof joined / sizeof *joined, L"%s\\%s", windows, path + 12);
    quarl::CopyW(path, cch, joined);
  }
  if (path[0] >= L'a' && path[0] <= L'z') path[0] = wchar_t(path[0] - L'a' + L'A');
  PathMakePrettyW(path);
}

}  // namespace kinetra

using kinetra::KN_PARAMETERS_VIEW;

BOOL PDM_GetProcessPathLimited(DWORD pid, wchar_t* buf, DWORD capacity) {
  using PFN_QueryFullProcessImageNameW = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
  // Absent before Windows Vista.
  auto queryName = quarl::BindProc<PFN_QueryFullProcessImageNameW>(GetModuleHandleW(L"kernel32.dll"),
                                                                   "QueryFullProcessImageNameW");
  size_t cch = quarl::CchFromBytes(capacity);
  if (!queryName || !buf || cch == 0) return FALSE;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!process) return FALSE;
  wchar_t path[1024];
  DWORD size = sizeof path / sizeof *path;
  BOOL ok = queryName(process, 0, path, &size);
  CloseHandle(process);
  if (ok) quarl::CopyW(buf, cch, path);
  return ok;
}

BOOL PDM_GetProcessPathVMRead(DWORD pid, wchar_t* buf, DWORD capacity) {
  size_t cch = quarl::CchFromBytes(capacity);
  if (!buf || cch == 0) return FALSE;
  return kinetra::ReadParameterText(kinetra::OpenForReading(pid), kinetra::ParameterText::ImagePath, buf, cch);
}

BOOL PDM_GetProcessPathByModule(DWORD pid, wchar_t* buf, DWORD capacity) {
  size_t cch = quarl::CchFromBytes(capacity);
  if (!buf || cch == 0) return FALSE;
  HANDLE process = kinetra::OpenStarted(pid);
  if (!process) return FALSE;
  CloseHandle(process);
  MODULEENTRY32W first;
  if (!PDM_GetProcessModule(pid, 0, &first)) return FALSE;
  wchar_t path[MAX_PATH];
  DWORD got = GetLongPathNameW(first.szExePath, path, MAX_PATH);
  if (got == 0 || got >= MAX_PATH) quarl::CopyW(path, MAX_PATH, first.szExePath);
  path[0] = wchar_t(towupper(path[0]));
  quarl::CopyW(buf, cch, path);
  return TRUE;
}

BOOL PDM_GetProcessPath(DWORD pid, wchar_t* buf, DWORD capacity) {
  size_t cch = quarl::CchFromBytes(capacity);
  if (!buf || cch == 0) return FALSE;
  buf[0] = L'\0';
  if (!PDM_GetProcessPathLimited(pid, buf, capacity) && !PDM_GetProcessPathVMRead(pid, buf, capacity) &&
      !PDM_GetProcessPathByModule(pid, buf, capacity)) {
    buf[0] = L'\0';
    return FALSE;
  }
  kinetra::NormalizeImagePath(buf, cch);
  return TRUE;
}

BOOL PDM_GetProcessCmdLine(DWORD pid, wchar_t* buf, DWORD capacity) {
  size_t cch = quarl::CchFromBytes(capacity);
  if (!buf || cch == 0) return FALSE;
  return kinetra::ReadParameterText(kinetra::OpenStarted(pid), kinetra::ParameterText::CommandLine, buf, cch);
}

BOOL PDM_GetProcessModule(DWORD pid, DWORD index, MODULEENTRY32W* entry) {
  if (!entry) return FALSE;
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
  if (snap == INVALID_HANDLE_VALUE) return FALSE;
  MODULEENTRY32W e;
  e.dwSize = sizeof e;
  BOOL more = Module32FirstW(snap, &e);
  for (DWORD i = 0; more && i < index; ++i) more = Module32NextW(snap, &e);
  CloseHandle(snap);
  if (more) *entry = e;
  return more;
}

BOOL PDM_GetProcessEnvironmentBlock(DWORD pid, void* buffer, DWORD* size) {
  if (!size) return FALSE;
  HANDLE process = kinetra::OpenStarted(pid);
  if (!process) return FALSE;
  KN_PARAMETERS_VIEW view;
  MEMORY_BASIC_INFORMATION region = {};
  BOOL ok = kinetra::ReadProcessParameters(process, &view) && view.environment &&
            view.environment <= ULONGLONG(~ULONG_PTR(0)) &&
            VirtualQueryEx(process, reinterpret_cast<LPCVOID>(ULONG_PTR(view.environment)), &region, sizeof region) ==
                sizeof region;
  DWORD block = 0;
  if (ok) {
    // The block may start anywhere in its region: what is left of the region
    // from the block's own address on, never the whole region.
    ULONGLONG end = ULONG_PTR(region.BaseAddress) + ULONGLONG(region.RegionSize);
    ULONGLONG left = end > view.environment ? end - view.environment : 0;
    block = DWORD(left < kinetra::kEnvironmentCut ? left : kinetra::kEnvironmentCut);
    ok = block > 0;
  }
  if (ok && !buffer) {
    *size = block;
  } else if (ok) {
    if (*size < block) {
      ok = FALSE;
    } else {
      // Only the measured block is read: a larger buffer would reach past the
      // region.
      memset(buffer, 0, *size);
      ok = kinetra::ReadExactly(process, view.environment, buffer, block);
    }
  }
  kinetra::CloseKeepingError(process);
  return ok;
}
