#include "dovrak/core.h"

#include <commctrl.h>

#include "dovrak/libstart.h"
#include "quarl/base/strfmt.h"

namespace brvt {
BRVT_API BRVT_EXECORE* lpExeCore;
}

namespace {

const wchar_t kSource[] = L"BRVTExeCore";
const wchar_t kInitFunction[] = L"BRVT_EXECORE::Init";

// Never closed before the process ends: other programs test for it.
HANDLE g_anyCopyMutex;

// Leaves the registry's status as the last error, so that a failed step's log
// line names it.
bool Ok(LONG status) {
  SetLastError(DWORD(status));
  return status == ERROR_SUCCESS;
}

// A string value with its whole terminator counted in its size.
bool SetString(HKEY key, const wchar_t* name, const wchar_t* text) {
  const DWORD bytes = DWORD((wcslen(text) + 1) * sizeof(wchar_t));
  return Ok(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes));
}

bool SetNumber(HKEY key, const wchar_t* name, int number) {
  return Ok(RegSetValueExW(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&number), sizeof number));
}

bool CreateKey(HKEY root, const wchar_t* path, HKEY* key, bool* created) {
  DWORD disposition = 0;
  HKEY k = nullptr;
  if (!Ok(RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &k,
                          &disposition)))
    return false;
  *key = k;
  if (created) *created = disposition == REG_CREATED_NEW_KEY;
  return true;
}

// An initially owned named mutex; `existed` tells whether another holder had it.
HANDLE OwnedMutex(const wchar_t* name, BOOL* existed) {
  HANDLE h = CreateMutexW(nullptr, TRUE, name);
  DWORD error = GetLastError();
  if (existed) *existed = h && error == ERROR_ALREADY_EXISTS;
  SetLastError(h ? 0 : error);
  return h;
}

}  // namespace

// ---- the executable's core ------------------------------------------------------

BRVT_EXECORE::BRVT_EXECORE()
    : exceptionCopy(nullptr),
      errorAtException(0),
      commandLine{},
      showCommand(0),
      appName{},
      fullName{},
      internalName{},
      versionText{},
      buildNumber(0),
      fullVersion{},
      versionNumber(0),
      runningMutex(nullptr),
      versionMutex(nullptr),
      secondCopy(FALSE),
      firstRun(FALSE),
      appKey(nullptr),
      installInfoKey(nullptr),
      instance(nullptr) {}

BOOL BRVT_EXECORE::Init(HINSTANCE module, const wchar_t* cmdLine, int show, const wchar_t* full,
                        const wchar_t* application, const wchar_t* internal, const wchar_t* version, int number) {
  BRVT_StartLibrary();
  instance = module;
  quarl::CopyW(commandLine, 512, cmdLine ? cmdLine : L"");
  showCommand = show;
  quarl::CopyW(fullName, 512, full ? full : L"");
  quarl::CopyW(appName, 512, application ? application : L"");
  quarl::CopyW(internalName, 512, internal ? internal : L"");
  quarl::CopyW(versionText, 512, version ? version : L"");
  versionNumber = number;

  errorReport.Init(fullName, internalName, versionText);
  INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);

  if (!CreateBaseMutex()) errorReport.LogUser(0, L"", L"CreateBaseMutex() failed.", kSource, 40, kInitFunction);
  if (!CreateBaseRegKey()) errorReport.LogUser(0, L"", L"CreateBaseRegKey() failed.", kSource, 42, kInitFunction);
  if (!SetBaseRegInfo()) errorReport.LogUser(0, L"", L"SetBaseRegInfo() failed.", kSource, 44, kInitFunction);
  errorReport.LogUser(0, L"", L"Done", kSource, 46, kInitFunction);
  return TRUE;
}

BOOL BRVT_EXECORE::AppInit(const wchar_t* application, const wchar_t* internal, int number, HINSTANCE module) {
  Init(module, L"", 0, application, application, internal, L"-", number);
  return FALSE;
}

BOOL BRVT_EXECORE::SetBuildInfo(DWORD build, BOOL releaseBuild, const char*, const char*) {
  buildNumber = build;
  quarl::FormatW(fullVersion, 128, L"Version %s (%i/%u%s)", versionText, versionNumber, unsigned(build),
                 releaseBuild ? L"" : L"_dbg");
  return TRUE;
}

BOOL BRVT_EXECORE::CreateBaseMutex() {
  wchar_t name[1200];
  quarl::FormatW(name, 1200, L"%s Running", fullName);
  HANDLE any = OwnedMutex(name, nullptr);
  bool ok = any != nullptr;
  if (any) {
    if (g_anyCopyMutex) CloseHandle(g_anyCopyMutex);
    g_anyCopyMutex = any;
  }
  DWORD error = GetLastError();

  wchar_t computer[256] = L"", user[256] = L"";
  DWORD cch = 256;
  GetComputerNameW(computer, &cch);
  cch = 256;
  GetUserNameW(user, &cch);

  quarl::FormatW(name, 1200, L"[%s.%s] %s Running", computer, user, fullName);
  runningMutex = OwnedMutex(name, &secondCopy);
  if (!runningMutex && ok) error = GetLastError(), ok = false;
  quarl::FormatW(name, 1200, L"[%s.%s] %s Version %i", computer, user, fullName, versionNumber);
  versionMutex = OwnedMutex(name, nullptr);
  if (!versionMutex && ok) error = GetLastError(), ok = false;
  SetLastError(ok ? 0 : error);
  return ok;
}

BOOL BRVT_EXECORE::CreateBaseRegKey() {
  wchar_t path[600];
  quarl::FormatW(path, 600, L"Software\\Quenby Software\\%s", internalName);
  bool created = false;
  if (!CreateKey(HKEY_CURRENT_USER, path, &appKey, &created)) return FALSE;
  firstRun = created;
  if (!CreateKey(appKey, L"InstallInfo", &installInfoKey, nullptr)) return FALSE;
  return options.Init(appKey, L"Options") ? (SetLastError(0), TRUE) : FALSE;
}

BOOL BRVT_EXECORE::SetBaseRegInfo() {
  if (!appKey || !installInfoKey) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return SetString(appKey, nullptr, fullName) && SetString(installInfoKey, L"ApplicationFullName", fullName) &&
         SetString(installInfoKey, L"ApplicationInternal", internalName) &&
         SetString(installInfoKey, L"ApplicationName", appName) &&
         SetString(installInfoKey, L"InstalledVersion", versionText) &&
         SetNumber(installInfoKey, L"nInstalledVersion", versionNumber);
}

// ---- a library's core -------------------------------------------------------------

BRVT_DLLCORE::BRVT_DLLCORE()
    : instance(nullptr),
      appName{},
      fullName{},
      internalName{},
      versionText{},
      versionNumber(0),
      loadedMutex(nullptr),
      versionMutex(nullptr),
      alreadyLoaded(FALSE),
      firstRun(FALSE),
      appKey(nullptr),
      moduleInfoKey(nullptr) {}

BOOL BRVT_DLLCORE::Init(HINSTANCE module, const wchar_t* full, const wchar_t* application, const wchar_t* internal,
                        const wchar_t* version, int number) {
  instance = module;
  quarl::CopyW(fullName, 512, full ? full : L"");
  quarl::CopyW(appName, 512, application ? application : L"");
  quarl::CopyW(internalName, 512, internal ? internal : L"");
  quarl::CopyW(versionText, 512, version ? version : L"");
  versionNumber = number;

  wchar_t name[600];
  quarl::FormatW(name, 600, L"%s Loaded", fullName);
  loadedMutex = OwnedMutex(name, &alreadyLoaded);
  quarl::FormatW(name, 600, L"%s Version %i", fullName, versionNumber);
  versionMutex = OwnedMutex(name, nullptr);

  quarl::FormatW(name, 600, L"Software\\Quenby Software\\%s", internalName);
  bool created = false;
  if (!CreateKey(HKEY_CURRENT_USER, name, &appKey, &created)) return TRUE;
  firstRun = created;
  SetString(appKey, nullptr, fullName);
  if (!CreateKey(appKey, L"ModuleInfo", &moduleInfoKey, nullptr)) return TRUE;
  SetString(moduleInfoKey, L"ApplicationFullName", fullName);
  SetString(moduleInfoKey, L"ApplicationInternal", internalName);
  SetString(moduleInfoKey, L"ApplicationName", appName);

  // Every copy of the library on the machine has its own version values, named
  // by its file.
  wchar_t path[MAX_PATH + 1] = L"";
  GetModuleFileNameW(module, path, MAX_PATH);
  HKEY sub;
  if (CreateKey(moduleInfoKey, L"InstalledVersions", &sub, nullptr)) {
    SetString(sub, path, versionText);
    RegCloseKey(sub);
  }
  if (CreateKey(moduleInfoKey, L"nInstalledVersions", &sub, nullptr)) {
    SetNumber(sub, path, versionNumber);
    RegCloseKey(sub);
  }
  return TRUE;
}

BOOL BRVT_DLLCORE::InternalError() {
  MessageBoxW(nullptr, L"The module has encountered an internal error.", fullName, MB_OK | MB_ICONERROR);
  return TRUE;
}
