#include "quarl/regoptions.h"

#include "quarl/base/regvalue.h"

QUARL_API REGOPTIONS regOptions;

BOOL REGOPTIONS::Init(HKEY root, const wchar_t* subKey) { return quarl::CreateOptionKey(root, subKey, &key); }

LONG REGOPTIONS::SetOptionDWORD(const wchar_t* name, DWORD value) { return quarl::WriteDwordValue(key, name, value); }

LONG REGOPTIONS::SetOptionBOOL(const wchar_t* name, BOOL value) { return SetOptionDWORD(name, DWORD(value)); }

LONG REGOPTIONS::SetOptionBINARY(const wchar_t* name, const void* data, DWORD bytes) {
  return quarl::WriteBinaryValue(key, name, data, bytes);
}

BOOL REGOPTIONS::IsOptionSet(const wchar_t* name) { return quarl::HasValue(key, name); }

DWORD REGOPTIONS::GetOptionDWORD(const wchar_t* name, DWORD defaultValue) {
  return quarl::ReadDwordValue(key, name, defaultValue);
}

BOOL REGOPTIONS::GetOptionBOOL(const wchar_t* name, BOOL defaultValue) {
  return BOOL(GetOptionDWORD(name, DWORD(defaultValue)));
}

BOOL REGOPTIONS::GetOptionBINARY(const wchar_t* name, void* buffer, DWORD bufferBytes, DWORD* bytesRead) {
  return quarl::ReadBinaryValue(key, name, buffer, bufferBytes, bytesRead);
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
