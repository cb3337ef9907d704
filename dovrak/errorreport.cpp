#include "dovrak/errorreport.h"

#include "quarl/base/strfmt.h"

BRVT_ERRORREPORT::BRVT_ERRORREPORT() : monitor(nullptr), logFile(nullptr) {
  InitializeCriticalSection(&lock);
  logFileName[0] = 0;
}

BRVT_ERRORREPORT::~BRVT_ERRORREPORT() { DeleteCriticalSection(&lock); }

BRVT_ERRORREPORT& BRVT_ERRORREPORT::operator=(const BRVT_ERRORREPORT& other) {
  // The lock itself is not copied: a copied critical section would share the
  // original's internal state and corrupt both.
  EnterCriticalSection(&lock);
  monitor = other.monitor;
  logFile = other.logFile;
  quarl::CopyW(logFileName, 300, other.logFileName);
  LeaveCriticalSection(&lock);
  return *this;
}

void BRVT_ERRORREPORT::SetLogFile(HANDLE file) {
  EnterCriticalSection(&lock);
  logFile = file;
  LeaveCriticalSection(&lock);
}

BOOL BRVT_ERRORREPORT::Init(const wchar_t* fullName, const wchar_t* internalName, const wchar_t* versionText) {
  if (monitor) {
    SendMessageW(monitor, WM_BRVT_ADDLINE, 0, reinterpret_cast<LPARAM>(fullName ? fullName : L""));
    SendMessageW(monitor, WM_BRVT_ADDLINE, 0, reinterpret_cast<LPARAM>(versionText ? versionText : L""));
    SendMessageW(monitor, WM_BRVT_ADDLINE, 0, reinterpret_cast<LPARAM>(L""));
  }
  SYSTEMTIME t;
  GetLocalTime(&t);
  quarl::FormatW(logFileName, 300, L"%s_Log_%.4d%.2d%.2d_%.2d%.2d%.2d.log", internalName ? internalName : L"",
                 t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  AddInfo(0, GetCurrentThreadId(), L"BRVTErrorReport", 34, L"BRVT_ERRORREPORT::Init", L"Success", 0);
  return TRUE;
}

void BRVT_ERRORREPORT::FormatLine(wchar_t* buf, size_t cch, DWORD threadId, const wchar_t* sourcePath, int line,
                                  const wchar_t* function, const wchar_t* text, DWORD errorCode) {
  // The source path's last component without its extension.
  wchar_t source[256];
  quarl::CopyW(source, 256, sourcePath ? sourcePath : L"");
  wchar_t* name = source;
  for (wchar_t* p = source; *p; ++p)
    if (*p == L'\\' || *p == L'/') name = p + 1;
  wchar_t* dot = nullptr;
  for (wchar_t* p = name; *p; ++p)
    if (*p == L'.') dot = p;
  if (dot) *dot = 0;

  if (cch > kLineChars) cch = kLineChars;
  quarl::FormatW(buf, cch, L"[%d] %s[%i]:%s", int(threadId), name, line, function ? function : L"");
  size_t used = wcslen(buf);
  if (text && *text) {
    quarl::FormatW(buf + used, cch - used, L" - %s", text);
    used += wcslen(buf + used);
  }
  if (errorCode) quarl::FormatW(buf + used, cch - used, L" - %d", int(errorCode));
}

BOOL BRVT_ERRORREPORT::AddInfo(DWORD, DWORD threadId, const wchar_t* sourcePath, int line, const wchar_t* function,
                               const wchar_t* text, DWORD errorCode) {
  EnterCriticalSection(&lock);
  wchar_t whole[kLineChars + 2];
  FormatLine(whole, kLineChars, threadId, sourcePath, line, function, text, errorCode);
  if (monitor) SendMessageW(monitor, WM_BRVT_ADDLINE, 0, reinterpret_cast<LPARAM>(whole));
  size_t length = wcslen(whole);
  whole[length++] = L'\r';
  whole[length++] = L'\n';
  if (logFile) {
    // The system's ANSI code page, at most 380 bytes: a text that does not fit
    // (possible only with a multi-byte code page) loses characters from its end.
    char bytes[380];
    int n = 0;
    for (size_t take = length; take > 0 && n == 0; --take)
      n = WideCharToMultiByte(CP_ACP, 0, whole, int(take), bytes, sizeof bytes, nullptr, nullptr);
    DWORD written = 0;
    if (n > 0) WriteFile(logFile, bytes, DWORD(n), &written, nullptr);
  }
  SetLastError(0);
  LeaveCriticalSection(&lock);
  return TRUE;
}

BOOL BRVT_ERRORREPORT::LogUser(DWORD category, const wchar_t*, const wchar_t* text, const wchar_t* sourcePath,
                               int line, const wchar_t* function) {
  DWORD error = GetLastError();
  return AddInfo(category, GetCurrentThreadId(), sourcePath, line, function, text, error);
}
