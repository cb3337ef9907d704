// Application identity, instance mutexes, autostart and process-wide start-up
// helpers of the application runtime.
#pragma once

#include <windows.h>

#include "quarl/quarlapi.h"

struct hostent;

namespace quarl {

// Identity: set once at start on the main thread, read freely afterwards.
extern QUARL_API wchar_t wcAppNameFull[256];
extern QUARL_API wchar_t wcAppName[256];
extern QUARL_API wchar_t wcAppCode[64];
extern QUARL_API wchar_t wcAppVersion[64];
extern QUARL_API int nAppVersion;
extern QUARL_API wchar_t wcBuildDate[64];
extern QUARL_API wchar_t wcBuildTime[64];
extern QUARL_API int nBuildNumber;
extern QUARL_API wchar_t wcFullVersionStr[256];

extern QUARL_API HINSTANCE hAppInstance;
extern QUARL_API HINSTANCE hInstQUARLDll;
extern QUARL_API HANDLE hAppMutex;
extern QUARL_API BOOL bSecondCopyRunning;
extern QUARL_API HFONT hFontBold;
extern QUARL_API HFONT hFontNormal;
extern QUARL_API HFONT hFontUnderline;

QUARL_API BOOL SetAppInfo(const wchar_t* fullName, const wchar_t* name, const wchar_t* version,
                          int versionNumber, const wchar_t* code);
QUARL_API BOOL SetAppNameFull(const wchar_t* text);
QUARL_API BOOL SetAppName(const wchar_t* text);
QUARL_API BOOL SetAppCode(const wchar_t* text);
QUARL_API BOOL SetAppVersion(const wchar_t* text);
QUARL_API BOOL SetAppVersionInt(int number);
QUARL_API const wchar_t* GetAppNameFull();
QUARL_API const wchar_t* GetAppName();
QUARL_API const wchar_t* GetAppCode();
QUARL_API const wchar_t* GetAppVersion();
QUARL_API int GetAppVersionInt();

// date and time as __DATE__ and __TIME__ give them ("Mmm dd yyyy", "hh:mm:ss").
QUARL_API BOOL SetBuildInfo(const char* date, const char* time, int buildNumber);
QUARL_API const wchar_t* GetFullVersionStr();
// "x86" or "x64": the bitness this runtime was built for.
QUARL_API const wchar_t* GetArchitectureText();

QUARL_API BOOL SetStoredInstance(HINSTANCE module);
QUARL_API HINSTANCE GetStoredInstance();
QUARL_API HINSTANCE GetQUARLInstance();
QUARL_API BOOL PostInit();

// Instance mutexes (names derived from the identity).
QUARL_API BOOL CreateAppMutex();
QUARL_API BOOL IsPreviousCopyRunning();
QUARL_API BOOL DeleteAppMutex();
QUARL_API HANDLE CreateOpenMutex();
QUARL_API HANDLE CreateExitMutex();
QUARL_API BOOL IsOpenMutexPresent();
QUARL_API BOOL IsExitMutexPresent();

// Autostart: a value in the current user's Run key that starts this program file
// with "/autostart".
QUARL_API BOOL GetAutostartEntry(const wchar_t* valueName);
QUARL_API BOOL SetAutostartEntry(const wchar_t* valueName, BOOL enable);

// System helpers.
QUARL_API BOOL IsOSVistaOrHigher();
QUARL_API BOOL IsOSWindows2000();
QUARL_API BOOL IsProcessInWow64();
QUARL_API BOOL EnableDebugPrivilege();
// Enables one named privilege in the process token; true when the token now has
// it enabled (a privilege the user does not hold gives false).
QUARL_API BOOL EnablePrivilege(const wchar_t* privilege);
QUARL_API BOOL LaunchElevatedInstance();
QUARL_API BOOL InitNetworkAPI();
QUARL_API int GetMachineIPAddresses(DWORD* addresses, DWORD bufferBytes);
QUARL_API DWORD GetHigherDWORD(DWORD a, DWORD b);
QUARL_API BOOL ReplaceNonPrintableChars(char* text, DWORD length);
QUARL_API void* GetCurrentEIP();
// Reports a fatal out-of-memory error for a null pointer (with the caller's
// address); VerifyCritialAlloc is the same entry point under its older name.
QUARL_API BOOL VerifyCriticalAlloc(void* pointer);
QUARL_API BOOL VerifyCritialAlloc(void* pointer);

// Seams for tests: the shell's "runas" start and the host-address lookup.
using PFN_ShellExecuteW = HINSTANCE(WINAPI*)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);
QUARL_API PFN_ShellExecuteW SetShellExecuteHook(PFN_ShellExecuteW fn);
using PFN_gethostbyname = hostent*(WINAPI*)(const char*);
QUARL_API PFN_gethostbyname SetHostLookupHook(PFN_gethostbyname fn);

}  // namespace quarl
