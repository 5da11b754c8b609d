#include "ui/framework/dialog.h"

namespace vx::ui {

INT_PTR Dialog::DoModal(HWND owner) {
  return DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), owner,
                         &Dialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void Dialog::CenterOverOwner() const {
  // The templates sit at 0, 0: centre over the owner, or on the work area.
  RECT area{};
  HWND owner = GetWindow(m_hwnd, GW_OWNER);
  if (owner != nullptr && IsWindowVisible(owner)) {
    GetWindowRect(owner, &area);
  } else {
    MONITORINFO mi{};
    mi.cbSize = sizeof(mi);
    GetMonitorInfoW(MonitorFromWindow(m_hwnd, MONITOR_DEFAULTTOPRIMARY), &mi);
    area = mi.rcWork;
  }
  RECT rc{};
  GetWindowRect(m_hwnd, &rc);
  int w = rc.right - rc.left;
  int h = rc.bottom - rc.top;
  int x = area.left + ((area.right - area.left) - w) / 2;
  int y = area.top + ((area.bottom - area.top) - h) / 2;
  SetWindowPos(m_hwnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  Dialog* self;
  if (msg == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lp);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, lp);
    self->m_hwnd = hwnd;
  } else {
    self = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) {
    return FALSE;  // messages before WM_INITDIALOG
  }
  // Exceptions must not unwind through the window system.
  try {
    INT_PTR result = self->Dispatch(msg, wp, lp);
    if (msg == WM_NCDESTROY) {
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      self->m_hwnd = nullptr;
    }
    return result;
  } catch (...) {
    return FALSE;
  }
}

INT_PTR Dialog::Dispatch(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_INITDIALOG:
      CenterOverOwner();
      return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND: {
      int id = LOWORD(wp);
      int code = HIWORD(wp);
      if (OnCommand(id, code, reinterpret_cast<HWND>(lp))) {
        return TRUE;
      }
      if (id == IDOK && code == BN_CLICKED) {
        OnOK();
        return TRUE;
      }
      if (id == IDCANCEL && code == BN_CLICKED) {
        OnCancel();
        return TRUE;
      }
      return FALSE;
    }
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (OnNotify(*reinterpret_cast<const NMHDR*>(lp), result)) {
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, result);
        return TRUE;
      }
      return FALSE;
    }
    default: {
      INT_PTR result = FALSE;
      return OnMessage(msg, wp, lp, result) ? result : FALSE;
    }
  }
}

}  // namespace vx::ui
