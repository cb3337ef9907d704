#include <winsock2.h>
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "quarl/appinfo.h"
#include "quarl/base/objhdr.h"
#include "quarl/base/procaddr.h"
#include "quarl/base/strfmt.h"
#include "quarl/fatalerror.h"
#include "quarl/language.h"
#include "quarl/regoptions.h"

namespace quarl {

QUARL_API wchar_t wcAppNameFull[256];
QUARL_API wchar_t wcAppName[256];
QUARL_API wchar_t wcAppCode[64];
QUARL_API wchar_t wcAppVersion[64];
QUARL_API int nAppVersion;
QUARL_API wchar_t wcBuildDate[64];
QUARL_API wchar_t wcBuildTime[64];
QUARL_API int nBuildNumber;
QUARL_API wchar_t wcFullVersionStr[256];

QUARL_API HINSTANCE hAppInstance;
QUARL_API HINSTANCE hInstQUARLDll;
QUARL_API HANDLE hAppMutex;
QUARL_API BOOL bSecondCopyRunning;
QUARL_API HFONT hFontBold;
QUARL_API HFONT hFontNormal;
QUARL_API HFONT hFontUnderline;

// Never closed before the process ends; kept so that it is not a leak to a checker.
static HANDLE g_productMutex;

static PFN_ShellExecuteW g_shellExecute = ::ShellExecuteW;
static PFN_gethostbyname g_hostLookup = nullptr;

static const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// ---- identity ---------------------------------------------------------------

BOOL SetAppNameFull(const wchar_t* text) { return CopyW(wcAppNameFull, 256, text); }
BOOL SetAppName(const wchar_t* text) { return CopyW(wcAppName, 256, text); }
BOOL SetAppCode(const wchar_t* text) { return CopyW(wcAppCode, 64, text); }
BOOL SetAppVersion(const wchar_t* text) { return CopyW(wcAppVersion, 64, text); }
BOOL SetAppVersionInt(int number) {
  nAppVersion = number;
  return TRUE;
}

BOOL SetAppInfo(const wchar_t* fullName, const wchar_t* name, const wchar_t* version,
                int versionNumber, const wchar_t* code) {
  SetAppNameFull(fullName);
  SetAppName(name);
  SetAppCode(code);
  SetAppVersion(version);
  SetAppVersionInt(versionNumber);
  SetAppCode(code);
  return TRUE;
}

const wchar_t* GetAppNameFull() { return wcAppNameFull; }
const wchar_t* GetAppName() { return wcAppName; }
const wchar_t* GetAppCode() { return wcAppCode; }
const wchar_t* GetAppVersion() { return wcAppVersion; }
int GetAppVersionInt() { return nAppVersion; }

static void Widen(wchar_t* dst, size_t cch, const char* src) {
  // The compiler's date and time are plain ASCII; widening byte by byte is exact.
  size_t i = 0;
  if (src)
    for (; src[i] && i + 1 < cch; ++i) dst[i] = wchar_t(static_cast<unsigned char>(src[i]));
  dst[i] = 0;
}

BOOL SetBuildInfo(const char* date, const char* time, int buildNumber) {
  Widen(wcBuildDate, 64, date);
  Widen(wcBuildTime, 64, time);
  nBuildNumber = buildNumber;
  return TRUE;
}

const wchar_t* GetArchitectureText() { return sizeof(void*) == 8 ? L"x64" : L"x86"; }

static int ParseInt(const wchar_t*& p) {
  while (*p == L' ') ++p;
  bool neg = *p == L'-';
  if (neg) ++p;
  int v = 0;
  while (*p >= L'0' && *p <= L'9') v = v * 10 + (*p++ - L'0');
  return neg ? -v : v;
}

const wchar_t* GetFullVersionStr() {
  static const wchar_t* const kMonths[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                           L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
  const wchar_t* p = wcBuildDate;
  while (*p == L' ') ++p;
  wchar_t monthText[64];
  size_t n = 0;
  while (*p && *p != L' ' && n < 63) monthText[n++] = *p++;
  monthText[n] = 0;
  while (*p && *p != L' ') ++p;
  int day = ParseInt(p);
  int year = ParseInt(p);
  int month = 0;
  for (int i = 0; i < 12; ++i)
    if (lstrcmpW(monthText, kMonths[i]) == 0) month = i + 1;
  FormatW(wcFullVersionStr, 256, L"Version %s (%s_%s.%i:%.2i%.2i%.2i_%i)", wcAppVersion, wcAppCode,
          GetArchitectureText(), nAppVersion, year & 15, month, day, nBuildNumber);
  return wcFullVersionStr;
}

BOOL SetStoredInstance(HINSTANCE module) {
  hAppInstance = module;
  return TRUE;
}
HINSTANCE GetStoredInstance() { return hAppInstance; }
HINSTANCE GetQUARLInstance() { return hInstQUARLDll; }

BOOL PostInit() {
  wchar_t path[512];
  FormatW(path, 512, L"Software\\Quenby Software\\%s", wcAppCode);
  // A key that cannot be opened leaves the option store empty: reads give their
  // defaults and writes fail quietly.
  regOptions.Init(HKEY_CURRENT_USER, path);
  CreateAppMutex();
  INITCOMMONCONTROLSEX icc = {sizeof icc, 0xFFFF};
  InitCommonControlsEx(&icc);
  return TRUE;
}

// ---- instance mutexes ---------------------------------------------------------

BOOL CreateAppMutex() {
  wchar_t name[320];
  FormatW(name, 320, L"Quenby %s Running", wcAppName);
  HANDLE product = CreateMutexW(nullptr, TRUE, name);
  if (product) {
    if (g_productMutex) CloseHandle(g_productMutex);
    g_productMutex = product;
  }
  FormatW(name, 320, L"Quenby.%s/running", wcAppCode);
  hAppMutex = CreateMutexW(nullptr, TRUE, name);
  bSecondCopyRunning = GetLastError() == ERROR_ALREADY_EXISTS;
  return hAppMutex != nullptr;
}

BOOL IsPreviousCopyRunning() { return bSecondCopyRunning; }

BOOL DeleteAppMutex() {
  BOOL ok = CloseHandle(hAppMutex);
  hAppMutex = nullptr;
  return ok;
}

static HANDLE CreateRequestMutex(const wchar_t* kind) {
  wchar_t name[128];
  FormatW(name, 128, L"Quenby %s/%s", wcAppCode, kind);
  return CreateMutexW(nullptr, TRUE, name);
}

static BOOL IsRequestMutexPresent(const wchar_t* kind) {
  HANDLE h = CreateRequestMutex(kind);
  BOOL present = GetLastError() == ERROR_ALREADY_EXISTS;
  if (h) CloseHandle(h);
  return present;
}

HANDLE CreateOpenMutex() { return CreateRequestMutex(L"open"); }
HANDLE CreateExitMutex() { return CreateRequestMutex(L"exit"); }
BOOL IsOpenMutexPresent() { return IsRequestMutexPresent(L"open"); }
BOOL IsExitMutexPresent() { return IsRequestMutexPresent(L"exit"); }

// ---- autostart ----------------------------------------------------------------

static void BuildAutostartText(wchar_t* text, size_t cch) {
  wchar_t path[1025] = L"";
  GetModuleFileNameW(nullptr, path, 1024);
  path[1024] = 0;
  FormatW(text, cch, L"\"%s\" /autostart", path);
}

BOOL GetAutostartEntry(const wchar_t* valueName) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return FALSE;
  // Whatever type the value has, the buffer is zeroed and its last character is
  // never filled, so the comparison below always sees a terminated text.
  wchar_t stored[1024] = {};
  DWORD cb = sizeof stored - sizeof(wchar_t);
  LONG rc = RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(stored), &cb);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS) return FALSE;
  wchar_t expected[1100];
  BuildAutostartText(expected, 1100);
  return CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, stored, -1, expected, -1) == CSTR_EQUAL;
}

BOOL SetAutostartEntry(const wchar_t* valueName, BOOL enable) {
  HKEY key;
  LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kRunKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr);
  if (rc == ERROR_SUCCESS) {
    if (enable) {
      wchar_t text[1100];
      BuildAutostartText(text, 1100);
      rc = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          DWORD((lstrlenW(text) + 1) * sizeof(wchar_t)));
    } else {
      rc = RegDeleteValueW(key, valueName);
      if (rc == ERROR_FILE_NOT_FOUND) rc = ERROR_SUCCESS;  // already off
    }
    RegCloseKey(key);
  }
  if (rc != ERROR_SUCCESS) {
    SetLastError(DWORD(rc));
    return FALSE;
  }
  return TRUE;
}

// ---- system helpers -------------------------------------------------------------

static DWORD MajorVersion(DWORD* minor) {
  OSVERSIONINFOW vi = {};
  vi.dwOSVersionInfoSize = sizeof vi;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&vi);
#pragma GCC diagnostic pop
  if (minor) *minor = vi.dwMinorVersion;
  return vi.dwMajorVersion;
}

BOOL IsOSVistaOrHigher() { return MajorVersion(nullptr) >= 6; }

BOOL IsOSWindows2000() {
  DWORD minor;
  return MajorVersion(&minor) == 5 && minor == 0;
}

BOOL IsProcessInWow64() {
  using PFN = BOOL(WINAPI*)(HANDLE, PBOOL);
  HMODULE k32 = GetModuleHandleW(L"kernel32");
  auto fn = BindProc<PFN>(k32, "IsWow64Process");
  BOOL wow = FALSE;
  if (!fn || !fn(GetCurrentProcess(), &wow)) return FALSE;
  return wow;
}

BOOL EnablePrivilege(const wchar_t* privilege) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
    return FALSE;
  TOKEN_PRIVILEGES tp = {};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  BOOL ok = LookupPrivilegeValueW(nullptr, privilege, &tp.Privileges[0].Luid);
  if (ok) {
    // Success of the call alone says nothing: a privilege the user lacks gives
    // ERROR_NOT_ALL_ASSIGNED in the last error.
    SetLastError(0);
    AdjustTokenPrivileges(token, FALSE, &tp, sizeof tp, nullptr, nullptr);
    ok = GetLastError() == 0;
  }
  DWORD err = GetLastError();
  CloseHandle(token);
  SetLastError(err);
  return ok;
}

BOOL EnableDebugPrivilege() { return EnablePrivilege(L"SeDebugPrivilege"); }

PFN_ShellExecuteW SetShellExecuteHook(PFN_ShellExecuteW fn) {
  PFN_ShellExecuteW old = g_shellExecute;
  g_shellExecute = fn ? fn : ::ShellExecuteW;
  return old;
}

BOOL LaunchElevatedInstance() {
  DeleteAppMutex();
  wchar_t path[512] = L"";
  GetModuleFileNameW(nullptr, path, 512);
  path[511] = 0;
  HINSTANCE r = g_shellExecute(nullptr, L"runas", path, nullptr, nullptr, SW_SHOWNORMAL);
  if (reinterpret_cast<INT_PTR>(r) > 32) return TRUE;
  CreateAppMutex();
  return FALSE;
}

BOOL InitNetworkAPI() {
  WSADATA wd;
  WSAStartup(MAKEWORD(2, 2), &wd);
  return TRUE;
}

PFN_gethostbyname SetHostLookupHook(PFN_gethostbyname fn) {
  PFN_gethostbyname old = g_hostLookup;
  g_hostLookup = fn;
  return old;
}

int GetMachineIPAddresses(DWORD* addresses, DWORD bufferBytes) {
  char host[256];
  if (gethostname(host, sizeof host) != 0) {
    SetLastError(DWORD(WSAGetLastError()));
    return 0;
  }
  host[sizeof host - 1] = 0;
  hostent* he = g_hostLookup ? g_hostLookup(host) : gethostbyname(host);
  if (!he || !he->h_addr_list) return 0;
  SetLastError(0);
  int count = 0;
  for (; count < 3 && he->h_addr_list[count]; ++count) {
    if ((DWORD(count) + 1) * sizeof(DWORD) > bufferBytes) {
      SetLastError(ERROR_MORE_DATA);
      break;
    }
    CopyMemory(&addresses[count], he->h_addr_list[count], sizeof(DWORD));
  }
  return count;
}

DWORD GetHigherDWORD(DWORD a, DWORD b) { return a > b ? a : b; }

BOOL ReplaceNonPrintableChars(char* text, DWORD length) {
  if (!text) return TRUE;
  for (DWORD i = 0; length ? i < length : text[i] != 0; ++i) {
    char c = text[i];
    if (c == 0 || c == 7 || c == 8 || c == 9 || c == 13) text[i] = ' ';
  }
  return TRUE;
}

__attribute__((noinline)) void* GetCurrentEIP() { return QUARL_CALLER_ADDRESS(); }

// Exported twice (see quarl86.def): both names enter this very code, so the
// reported address is always the caller's, whichever name it imported.
__attribute__((noinline)) BOOL VerifyCriticalAlloc(void* pointer) {
  if (pointer) return TRUE;
  DWORD err = GetLastError();
  ReportFatalError(HardcodeLangString(
                       L"A critical operation could not be completed because not enough memory is available.",
                       L"Ein kritischer Vorgang ist fehlgeschlagen, weil nicht genügend Arbeitsspeicher "
                       L"zur Verfügung steht."),
                   QUARL_CALLER_ADDRESS(), err);
  return FALSE;
}

}  // namespace quarl
