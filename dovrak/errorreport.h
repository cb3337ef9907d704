// The compatibility runtime's line log: one line per call, "[thread] source[line]:
// function - text - error", sent to the live monitor window when one is open and
// written to the log file when one is attached. Safe from several threads.
#pragma once

#include <windows.h>

#include "dovrak/dovrakapi.h"

// The message that appends one line (the text as lParam) to the monitor.
constexpr UINT WM_BRVT_ADDLINE = WM_USER + 10;

class BRVT_API BRVT_ERRORREPORT {
 public:
  // The lock is ready from construction on, so a line written before Init (or
  // by another thread while Init runs) is still serialised.
  BRVT_ERRORREPORT();
  ~BRVT_ERRORREPORT();
  // Copies the monitor, the file and the file name; each object keeps its own lock.
  BRVT_ERRORREPORT& operator=(const BRVT_ERRORREPORT& other);

  // Sends the identity to an open monitor, composes the log file name from the
  // internal name and the local time, and logs "Success".
  BOOL Init(const wchar_t* fullName, const wchar_t* internalName, const wchar_t* versionText);
  // Writes one line; the category is not used. Leaves the last error at 0.
  BOOL AddInfo(DWORD category, DWORD threadId, const wchar_t* sourcePath, int line, const wchar_t* function,
               const wchar_t* text, DWORD errorCode);
  // AddInfo with the calling thread and the last error on entry; the second
  // text is not used.
  BOOL LogUser(DWORD category, const wchar_t* unused, const wchar_t* text, const wchar_t* sourcePath, int line,
               const wchar_t* function);

  // The file every further line goes to (null: none). The caller owns it.
  void SetLogFile(HANDLE file);
  // The name composed at Init, "<internal>_Log_yyyymmdd_hhmmss.log".
  const wchar_t* GetLogFileName() const { return logFileName; }

  // Bound of a line without its end ("\r\n"), terminator included.
  static constexpr size_t kLineChars = 368;
  // The line as written (without its end), cut to kLineChars - 1 characters.
  static void FormatLine(wchar_t* buf, size_t cch, DWORD threadId, const wchar_t* sourcePath, int line,
                         const wchar_t* function, const wchar_t* text, DWORD errorCode);

 private:
  CRITICAL_SECTION lock;
  HWND monitor;
  HANDLE logFile;
  wchar_t logFileName[300];
};
