// The compatibility runtime's cores: the executable's identity (single-instance
// mutexes, registry footprint, option store, version string, log) and a
// library's, which the runtime keeps for itself.
#pragma once

#include <windows.h>

#include "dovrak/dovrakapi.h"
#include "dovrak/errorreport.h"
#include "dovrak/regoptions.h"

class BRVT_API BRVT_EXECORE {
 public:
  // Empty: no identity, no mutexes, no keys.
  BRVT_EXECORE();

  // Copies the texts (each cut to 511 characters), starts the log, initialises
  // the common controls, then creates the mutexes, the keys and the registry
  // footprint, logging each step that fails and "Done" at the end. TRUE.
  BOOL Init(HINSTANCE module, const wchar_t* commandLine, int showCommand, const wchar_t* fullName,
            const wchar_t* applicationName, const wchar_t* internalName, const wchar_t* versionText,
            int versionNumber);
  // The older start: Init with no command line, the name as full and short name
  // and the version text "-". Returns FALSE.
  BOOL AppInit(const wchar_t* applicationName, const wchar_t* internalName, int versionNumber, HINSTANCE module);
  // "Version <text> (<number>/<build>)", with "_dbg" appended to the build when
  // releaseBuild is 0. Date and time are not used. TRUE.
  BOOL SetBuildInfo(DWORD buildNumber, BOOL releaseBuild, const char* date, const char* time);

  const wchar_t* GetFullVersionString() const { return fullVersion; }
  const wchar_t* GetApplicationName() const { return appName; }
  const wchar_t* GetApplicationFullName() const { return fullName; }
  const wchar_t* GetApplicationInternal() const { return internalName; }
  HINSTANCE GetInstance() const { return instance; }
  // The application key did not exist before this start.
  BOOL IsFirstRun() const { return firstRun; }
  // The same user on this computer already runs this program.
  BOOL IsSecondCopyRunning() const { return secondCopy; }

  // The option store on the "Options" subkey.
  LONG SetOptionBOOL(const wchar_t* name, BOOL value) { return options.SetOptionBOOL(name, value); }
  LONG SetOptionDWORD(const wchar_t* name, DWORD value) { return options.SetOptionDWORD(name, value); }
  LONG SetOptionBINARY(const wchar_t* name, const void* data, DWORD bytes) {
    return options.SetOptionBINARY(name, data, bytes);
  }
  BOOL IsOptionSet(const wchar_t* name) { return options.IsOptionSet(name); }
  BOOL GetOptionBOOL(const wchar_t* name, BOOL defaultValue) { return options.GetOptionBOOL(name, defaultValue); }
  DWORD GetOptionDWORD(const wchar_t* name, DWORD defaultValue) {
    return options.GetOptionDWORD(name, defaultValue);
  }
  BOOL GetOptionBINARY(const wchar_t* name, void* buffer, DWORD bufferBytes, DWORD* bytesRead) {
    return options.GetOptionBINARY(name, buffer, bufferBytes, bytesRead);
  }

  // Forwards to the log's AddInfo.
  BOOL AddDebugInfo(DWORD category, DWORD threadId, const wchar_t* sourcePath, int line, const wchar_t* function,
                    const wchar_t* text, DWORD errorCode) {
    return errorReport.AddInfo(category, threadId, sourcePath, line, function, text, errorCode);
  }
  BRVT_ERRORREPORT* GetErrorReport() { return &errorReport; }

 private:
  // Each step reports its real result and leaves the last error of its failing
  // call (0 on success), which the log line then carries.
  BOOL CreateBaseMutex();
  BOOL CreateBaseRegKey();
  BOOL SetBaseRegInfo();

  void* exceptionCopy;
  DWORD errorAtException;
  wchar_t commandLine[512];
  int showCommand;
  wchar_t appName[512];
  wchar_t fullName[512];
  wchar_t internalName[512];
  wchar_t versionText[512];
  DWORD buildNumber;
  wchar_t fullVersion[128];
  int versionNumber;
  HANDLE runningMutex;
  HANDLE versionMutex;
  BOOL secondCopy;
  BOOL firstRun;
  HKEY appKey;
  HKEY installInfoKey;
  BRVT_REGOPTIONS options;  // holds the "Options" subkey
  BRVT_ERRORREPORT errorReport;
  HINSTANCE instance;
};

class BRVT_API BRVT_DLLCORE {
 public:
  BRVT_DLLCORE();

  // Copies the texts, creates "<full> Loaded" and "<full> Version <n>", the
  // application key and the "ModuleInfo" footprint, with the library's file
  // path naming its version values. TRUE.
  BOOL Init(HINSTANCE module, const wchar_t* fullName, const wchar_t* applicationName, const wchar_t* internalName,
            const wchar_t* versionText, int versionNumber);
  // A message box "The module has encountered an internal error.". TRUE.
  BOOL InternalError();

  HINSTANCE GetInstance() const { return instance; }
  const wchar_t* GetApplicationName() const { return appName; }
  BOOL IsAlreadyLoaded() const { return alreadyLoaded; }
  BOOL IsFirstRun() const { return firstRun; }

 private:
  HINSTANCE instance;
  wchar_t appName[512];
  wchar_t fullName[512];
  wchar_t internalName[512];
  wchar_t versionText[512];
  int versionNumber;
  HANDLE loadedMutex;
  HANDLE versionMutex;
  BOOL alreadyLoaded;
  BOOL firstRun;
  HKEY appKey;
  HKEY moduleInfoKey;
};

namespace brvt {

// The executable's core, allocated when the library loads; the program calls Init.
extern BRVT_API BRVT_EXECORE* lpExeCore;

}  // namespace brvt
