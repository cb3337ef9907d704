#include "kinetra/imageinfo.h"


#include <winver.h>

#include <cstddef>

#include "kinetra/handles.h"
#include "quarl/base/strfmt.h"

namespace kinetra {
namespace {

constexpr uint32_t kSig2 = quarl::Sig('I', 'N', 'F', 'O');
// A version resource is at most 64 KB (its length is a 16-bit field); the system
// asks for about twice that to make room for its converted copy. Anything far
// beyond comes from a damaged or crafted file and is not allocated.
constexpr DWORD kMaxVersionBlock = 1u << 20;

KN_VERSION_SEAMS g_seams;

DWORD WINAPI SystemGetSize(LPCWSTR path, LPDWORD handle) { return GetFileVersionInfoSizeW(path, handle); }
BOOL WINAPI SystemGetInfo(LPCWSTR path, DWORD handle, DWORD size, LPVOID data) {
  return GetFileVersionInfoW(path, handle, size, data);
}
BOOL WINAPI SystemQuery(LPCVOID block, LPCWSTR subBlock, LPVOID* value, PUINT length) {
  return VerQueryValueW(block, subBlock, value, length);
}

// A value the version interface found, accepted only when it lies wholly inside
// the block that was read; its length is cut to what the block still holds.
struct BLOCKVIEW {
  const BYTE* begin;
  const BYTE* end;

  // A record value: the block must hold at least minBytes of it.
  const void* Query(const wchar_t* name, size_t minBytes) const {
    auto query = g_seams.query ? g_seams.query : SystemQuery;
    void* value = nullptr;
    UINT length = 0;
    if (!query(begin, name, &value, &length) || !value) return nullptr;
    const BYTE* p = static_cast<const BYTE*>(value);
    if (p < begin || p >= end) return nullptr;
    if (size_t(end - p) < minBytes) return nullptr;
    return p;
  }

  // A text value: its length comes in characters.
  bool Text(const wchar_t* name, wchar_t* field, size_t cch) const {
    auto query = g_seams.query ? g_seams.query : SystemQuery;
    void* value = nullptr;
    UINT length = 0;
    if (!query(begin, name, &value, &length) || !value) return false;
    const BYTE* p = static_cast<const BYTE*>(value);
    if (p < begin || p >= end) return false;
    size_t roomChars = size_t(end - p) / sizeof(wchar_t);
    size_t chars = length < roomChars ? length : roomChars;
    quarl::CopyNW(field, cch, reinterpret_cast<const wchar_t*>(p), chars);
    return true;
  }
};

const wchar_t* FileNamePart(const wchar_t* path) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p)
    if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
  return name;
}

}  // namespace

void SetVersionSeams(const KN_VERSION_SEAMS* seams) { g_seams = seams ? *seams : KN_VERSION_SEAMS{}; }

_IMAGEINFO::_IMAGEINFO() {
  ZeroMemory(static_cast<void*>(this), sizeof *this);
  InitAt(QUARL_CALLER_ADDRESS());
}

_IMAGEINFO::~_IMAGEINFO() { Delete(); }

__attribute__((noinline)) BOOL _IMAGEINFO::Init() { return InitAt(QUARL_CALLER_ADDRESS()); }

__attribute__((noinline)) BOOL _IMAGEINFO::ReInit() {
  Delete();
  return InitAt(QUARL_CALLER_ADDRESS());
}

BOOL _IMAGEINFO::InitAt(void* creator) {
  if (IsClassReady()) return TRUE;
  ZeroMemory(static_cast<void*>(this), sizeof *this);
  lock_ = NewHeapLock();
  if (!lock_) return FALSE;
  quarl::HeaderSet(hdr_, kImageSig1, kSig2, creator, sizeof *this);
  return TRUE;
}

BOOL _IMAGEINFO::Delete() {
  if (!IsClassReady()) return TRUE;
  RetireHeapLock(&lock_, hdr_);
  return TRUE;
}

BOOL _IMAGEINFO::IsClassReady() const { return hdr_.sig1 == kImageSig1; }

void _IMAGEINFO::ClearFields() {
  loaded_ = 0;
  // The lock stays: a reload must not re-create the lock a buffer getter may be
  // holding or waiting for.
  BYTE* from = reinterpret_cast<BYTE*>(&fileDate_);
  BYTE* to = reinterpret_cast<BYTE*>(this) + sizeof *this;
  ZeroMemory(from, size_t(to - from));
}

BOOL _IMAGEINFO::LoadVersionInfo(const wchar_t* path) {
  if (!IsClassReady()) return FALSE;
  EnterCriticalSection(lock_);
  ClearFields();
  if (path) quarl::CopyW(path_, kPathChars, path);

  auto getSize = g_seams.getSize ? g_seams.getSize : SystemGetSize;
  auto getInfo = g_seams.getInfo ? g_seams.getInfo : SystemGetInfo;
  DWORD handle = 0;
  DWORD size = path ? getSize(path, &handle) : 0;
  BYTE* block = nullptr;
  if (size > kMaxVersionBlock) {
    SetLastError(ERROR_INVALID_DATA);
    size = 0;
  }
  if (size) {
    // One spare terminator after the block, so a last text that the file left
    // unterminated still ends inside memory that was read.
    block = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size + sizeof(wchar_t)));
    if (!block) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  if (block && !getInfo(path, handle, size, block)) {
    HeapFree(GetProcessHeap(), 0, block);
    block = nullptr;
  }
  if (!block) {
    LeaveCriticalSection(lock_);
    return FALSE;
  }

  BLOCKVIEW view{block, block + size};
  if (auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(view.Query(L"\\", sizeof(VS_FIXEDFILEINFO)))) {
    fileTime_.dwHighDateTime = fixed->dwFileDateMS;
    fileTime_.dwLowDateTime = fixed->dwFileDateLS;
    if (!FileTimeToSystemTime(&fileTime_, &fileDate_)) ZeroMemory(&fileDate_, sizeof fileDate_);
    versionHigh_ = fixed->dwFileVersionMS;
    versionLow_ = fixed->dwFileVersionLS;
  }

  if (auto* pair = static_cast<const WORD*>(view.Query(L"\\VarFileInfo\\Translation", 2 * sizeof(WORD)))) {
    struct NAMED {
      const wchar_t* name;
      wchar_t* field;
    } names[] = {
        {L"FileDescription", fileDescription_}, {L"LegalCopyright", copyright_},
        {L"CompanyName", companyName_},         {L"OriginalFilename", orgFilename_},
        {L"ProductName", productName_},         {L"ProductVersion", productVersion_},
        {L"FileVersion", fileVersion_},
    };
    for (const NAMED& n : names) {
      wchar_t key[96];
      quarl::FormatW(key, 96, L"\\StringFileInfo\\%04x%04x\\%s", pair[0], pair[1], n.name);
      view.Text(key, n.field, kTextChars);
    }
  }

  HeapFree(GetProcessHeap(), 0, block);
  loaded_ = 1;
  LeaveCriticalSection(lock_);
  return TRUE;
}

const wchar_t* _IMAGEINFO::Text(const wchar_t* field) const { return IsClassReady() ? field : L""; }

const wchar_t* _IMAGEINFO::GetPathNameStr() const { return Text(path_); }
const wchar_t* _IMAGEINFO::GetCommentsStr() const { return Text(comments_); }
const wchar_t* _IMAGEINFO::GetCompanyNameStr() const { return Text(companyName_); }
const wchar_t* _IMAGEINFO::GetCopyrightStr() const { return Text(copyright_); }
const wchar_t* _IMAGEINFO::GetOrgFilenameStr() const { return Text(orgFilename_); }
const wchar_t* _IMAGEINFO::GetProductNameStr() const { return Text(productName_); }
const wchar_t* _IMAGEINFO::GetProductVersionStr() const { return Text(productVersion_); }
const wchar_t* _IMAGEINFO::GetDescription() const { return Text(fileDescription_); }

const wchar_t* _IMAGEINFO::GetDisplayNameStr() const {
  if (!IsClassReady()) return L"";
  return fileDescription_[0] ? fileDescription_ : FileNamePart(path_);
}

const wchar_t* _IMAGEINFO::CopyOut(const wchar_t* field, wchar_t* buf, DWORD bytes) {
  size_t cch = quarl::CchFromBytes(bytes);
  if (!buf || cch == 0) return L"";
  if (!IsClassReady()) {
    buf[0] = L'\0';
    return L"";
  }
  EnterCriticalSection(lock_);
  quarl::CopyW(buf, cch, field);
  LeaveCriticalSection(lock_);
  return buf;
}

const wchar_t* _IMAGEINFO::GetComments(wchar_t* buf, DWORD bytes) { return CopyOut(comments_, buf, bytes); }
const wchar_t* _IMAGEINFO::GetCompanyName(wchar_t* buf, DWORD bytes) { return CopyOut(companyName_, buf, bytes); }
const wchar_t* _IMAGEINFO::GetCopyright(wchar_t* buf, DWORD bytes) { return CopyOut(copyright_, buf, bytes); }
const wchar_t* _IMAGEINFO::GetFileDescription(wchar_t* buf, DWORD bytes) {
  return CopyOut(fileDescription_, buf, bytes);
}
const wchar_t* _IMAGEINFO::GetFileVersion(wchar_t* buf, DWORD bytes) { return CopyOut(fileVersion_, buf, bytes); }
const wchar_t* _IMAGEINFO::GetOrgFilename(wchar_t* buf, DWORD bytes) { return CopyOut(orgFilename_, buf, bytes); }
const wchar_t* _IMAGEINFO::GetPathName(wchar_t* buf, DWORD bytes) { return CopyOut(path_, buf, bytes); }
const wchar_t* _IMAGEINFO::GetProductName(wchar_t* buf, DWORD bytes) { return CopyOut(productName_, buf, bytes); }
const wchar_t* _IMAGEINFO::GetProductVersion(wchar_t* buf, DWORD bytes) {
  return CopyOut(productVersion_, buf, bytes);
}

const wchar_t* _IMAGEINFO::GetDisplayName(wchar_t* buf, DWORD bytes) {
  size_t cch = quarl::CchFromBytes(bytes);
  if (!buf || cch == 0) return L"";
  if (!IsClassReady()) {
    buf[0] = L'\0';
    return L"";
  }
  EnterCriticalSection(lock_);
  quarl::CopyW(buf, cch, fileDescription_[0] ? fileDescription_ : FileNamePart(path_));
  LeaveCriticalSection(lock_);
  return buf;
}

FILETIME _IMAGEINFO::GetFileTimeStamp() const { return IsClassReady() ? fileTime_ : FILETIME{}; }
SYSTEMTIME _IMAGEINFO::GetTimeStamp() const { return IsClassReady() ? fileDate_ : SYSTEMTIME{}; }
DWORD _IMAGEINFO::GetVersionLow() const { return IsClassReady() ? versionLow_ : 0; }
DWORD _IMAGEINFO::GetVersionHigh() const { return IsClassReady() ? versionHigh_ : 0; }
BOOL _IMAGEINFO::IsLoaded() const { return IsClassReady() && loaded_; }

}  // namespace kinetra
