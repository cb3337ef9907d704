#include "quarl/regoptions.h"

QUARL_API REGOPTIONS regOptions;

BOOL REGOPTIONS::Init(HKEY root, const wchar_t* subKey) {
  HKEY k = nullptr;
  LONG rc = RegCreateKeyExW(root, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &k, nullptr);
  if (rc != ERROR_SUCCESS) {
    SetLastError(DWORD(rc));
    return FALSE;
  }
  key = k;
  return TRUE;
}

LONG REGOPTIONS::SetOptionDWORD(const wchar_t* name, DWORD value) {
  if (!key) return ERROR_INVALID_HANDLE;
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG REGOPTIONS::SetOptionBOOL(const wchar_t* name, BOOL value) {
  return SetOptionDWORD(name, DWORD(value));
}

LONG REGOPTIONS::SetOptionBINARY(const wchar_t* name, const void* data, DWORD bytes) {
  if (!key) return ERROR_INVALID_HANDLE;
  return RegSetValueExW(key, name, 0, REG_BINARY, static_cast<const BYTE*>(data), bytes);
}

BOOL REGOPTIONS::IsOptionSet(const wchar_t* name) {
  return key && RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD REGOPTIONS::GetOptionDWORD(const wchar_t* name, DWORD defaultValue) {
  if (!key) return defaultValue;
  // Read into a larger buffer, so a longer value of the right type is seen as
  // the wrong size instead of being cut to four bytes.
  BYTE data[8];
  DWORD type = 0, size = sizeof data;
  if (RegQueryValueExW(key, name, nullptr, &type, data, &size) != ERROR_SUCCESS || type != REG_DWORD ||
      size != sizeof(DWORD))
    return defaultValue;
  DWORD v;
  CopyMemory(&v, data, sizeof v);
  return v;
}

BOOL REGOPTIONS::GetOptionBOOL(const wchar_t* name, BOOL defaultValue) {
  return BOOL(GetOptionDWORD(name, DWORD(defaultValue)));
}

BOOL REGOPTIONS::GetOptionBINARY(const wchar_t* name, void* buffer, DWORD bufferBytes, DWORD* bytesRead) {
  DWORD size = bufferBytes;
  bool ok = key && buffer &&
            RegQueryValueExW(key, name, nullptr, nullptr, static_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS;
  if (bytesRead) *bytesRead = ok ? size : 0;
  return ok;
}

namespace quarl {

static_assert(sizeof(WINDOWPLACEMENT) == 44, "the stored placement is the 44-byte system record");

LONG SaveWindowPlacement(HWND window, const wchar_t* valueName) {
  WINDOWPLACEMENT wp = {};
  wp.length = sizeof wp;
  if (!GetWindowPlacement(window, &wp)) return LONG(GetLastError());
  return regOptions.SetOptionBINARY(valueName, &wp, sizeof wp);
}

BOOL RestoreWindowPlacement(HWND window, const wchar_t* valueName, BOOL applyWhole, BOOL keepShowState) {
  WINDOWPLACEMENT wp = {};
  DWORD got = 0;
  if (!regOptions.GetOptionBINARY(valueName, &wp, sizeof wp, &got) || got != sizeof wp) return FALSE;
  wp.length = sizeof wp;
  if (!keepShowState && wp.showCmd != SW_SHOWMAXIMIZED) wp.showCmd = SW_SHOW;
  if (applyWhole) return SetWindowPlacement(window, &wp);
  // The record holds workspace coordinates; a window is moved in screen
  // coordinates. With a taskbar at the top or left they differ, and moving by
  // the raw numbers would creep the window at every start.
  POINT pos = {wp.rcNormalPosition.left, wp.rcNormalPosition.top};
  MONITORINFO mi = {};
  mi.cbSize = sizeof mi;
  if (GetMonitorInfoW(MonitorFromRect(&wp.rcNormalPosition, MONITOR_DEFAULTTONEAREST), &mi)) {
    // The primary monitor's work area as the system keeps it (Wine leaves the
    // monitor record's work area at the full screen).
    if (mi.dwFlags & MONITORINFOF_PRIMARY) SystemParametersInfoW(SPI_GETWORKAREA, 0, &mi.rcWork, 0);
    pos.x += mi.rcWork.left - mi.rcMonitor.left;
    pos.y += mi.rcWork.top - mi.rcMonitor.top;
  }
  return SetWindowPos(window, nullptr, pos.x, pos.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace quarl
