// The version resource of an executable or DLL file: its texts (in the first
// translation the file lists), the binary file version and the file date.
#pragma once

#include <windows.h>

#include <cstdint>

#include "kinetra/kinetraapi.h"
#include "quarl/base/objhdr.h"

namespace kinetra {

// The first signature word is shared with the import-table classes, so that any
// of them passes IsClassReady of the others.
constexpr uint32_t kImageSig1 = quarl::Sig('K', 'N', 'I', 'M');

// Seams for the version-resource interface; a null member keeps the system's call.
// Set before use, not while other threads load.
struct KN_VERSION_SEAMS {
  DWORD(WINAPI* getSize)(LPCWSTR path, LPDWORD handle);
  BOOL(WINAPI* getInfo)(LPCWSTR path, DWORD handle, DWORD size, LPVOID data);
  BOOL(WINAPI* query)(LPCVOID block, LPCWSTR subBlock, LPVOID* value, PUINT length);
};
KINETRA_API void SetVersionSeams(const KN_VERSION_SEAMS* seams);

// Copies are forbidden, since a copy would share the lock. The object may be
// moved to another address as bytes when the old bytes are then forgotten (no
// Delete, no destructor on them): the lock is reached through a pointer.
class KINETRA_API _IMAGEINFO {
 public:
  static constexpr DWORD kPathChars = 512;
  static constexpr DWORD kTextChars = 256;

  _IMAGEINFO();
  ~_IMAGEINFO();
  _IMAGEINFO(const _IMAGEINFO&) = delete;
  _IMAGEINFO& operator=(const _IMAGEINFO&) = delete;

  BOOL Init();
  BOOL ReInit();
  BOOL Delete();
  BOOL IsClassReady() const;

  // Reads the version resource of the file. False when there is none (the path
  // is still stored); true when it was read, also without a translation table.
  BOOL LoadVersionInfo(const wchar_t* path);
  BOOL LoadImageFile(const wchar_t* path) { return LoadVersionInfo(path); }

  // Pointers into the object, read without the lock; empty text when not ready.
  const wchar_t* GetPathNameStr() const;
  const wchar_t* GetCommentsStr() const;
  const wchar_t* GetCompanyNameStr() const;
  const wchar_t* GetCompanyName() const { return GetCompanyNameStr(); }
  const wchar_t* GetCopyrightStr() const;
  const wchar_t* GetCopyright() const { return GetCopyrightStr(); }
  const wchar_t* GetOrgFilenameStr() const;
  const wchar_t* GetOrgFilename() const { return GetOrgFilenameStr(); }
  const wchar_t* GetProductNameStr() const;
  const wchar_t* GetProductName() const { return GetProductNameStr(); }
  const wchar_t* GetProductVersionStr() const;
  // These four all answer the file description: the process views show it in
  // their "version" column. The "FileVersion" text itself is only handed out by
  // the buffer form of GetFileVersion.
  const wchar_t* GetDescription() const;
  const wchar_t* GetFileDescriptionStr() const { return GetDescription(); }
  const wchar_t* GetFileVersionStr() const { return GetDescription(); }
  const wchar_t* GetFileVersion() const { return GetDescription(); }
  // The description, or the file-name part of the path when it is empty.
  const wchar_t* GetDisplayNameStr() const;
  const wchar_t* GetDisplayName() const { return GetDisplayNameStr(); }

  // Copies under the lock into buf (capacity in bytes), cut to fit. Returns buf,
  // or empty text when not ready or without a buffer.
  const wchar_t* GetComments(wchar_t* buf, DWORD bytes);
  const wchar_t* GetCompanyName(wchar_t* buf, DWORD bytes);
  const wchar_t* GetCopyright(wchar_t* buf, DWORD bytes);
  const wchar_t* GetFileDescription(wchar_t* buf, DWORD bytes);
  const wchar_t* GetFileVersion(wchar_t* buf, DWORD bytes);
  const wchar_t* GetOrgFilename(wchar_t* buf, DWORD bytes);
  const wchar_t* GetPathName(wchar_t* buf, DWORD bytes);
  const wchar_t* GetProductName(wchar_t* buf, DWORD bytes);
  const wchar_t* GetProductVersion(wchar_t* buf, DWORD bytes);
  const wchar_t* GetDisplayName(wchar_t* buf, DWORD bytes);

  FILETIME GetFileTimeStamp() const;
  SYSTEMTIME GetTimeStamp() const;
  DWORD GetVersionLow() const;
  DWORD GetVersionHigh() const;
  BOOL IsLoaded() const;

 private:
  BOOL InitAt(void* creator);
  void ClearFields();
  const wchar_t* CopyOut(const wchar_t* field, wchar_t* buf, DWORD bytes);
  const wchar_t* Text(const wchar_t* field) const;

  quarl::OBJHEADER hdr_;
  DWORD loaded_;
  CRITICAL_SECTION* lock_;
  // Everything from here on is cleared by a reload.
  SYSTEMTIME fileDate_;
  FILETIME fileTime_;
  DWORD versionLow_;
  DWORD versionHigh_;
  wchar_t path_[kPathChars];
  wchar_t comments_[kTextChars];
  wchar_t companyName_[kTextChars];
  wchar_t fileDescription_[kTextChars];
  wchar_t fileVersion_[kTextChars];
  wchar_t copyright_[kTextChars];
  wchar_t orgFilename_[kTextChars];
  wchar_t productName_[kTextChars];
  wchar_t productVersion_[kTextChars];
};

}  // namespace kinetra
