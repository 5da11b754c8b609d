#include "ui/framework/subclassed_window.h"

#include <commctrl.h>

namespace vx::ui {

namespace {
constexpr UINT_PTR kSubclassId = 1;
}

SubclassedWindow::~SubclassedWindow() {
  Unsubclass();
}

bool SubclassedWindow::Subclass(HWND control) {
  Unsubclass();
  if (!SetWindowSubclass(control, &SubclassedWindow::Proc, kSubclassId,
                         reinterpret_cast<DWORD_PTR>(this))) {
    return false;
  }
  m_hwnd = control;
  return true;
}

void SubclassedWindow::Unsubclass() {
  if (m_hwnd != nullptr) {
    RemoveWindowSubclass(m_hwnd, &SubclassedWindow::Proc, kSubclassId);
    m_hwnd = nullptr;
  }
}

LRESULT CALLBACK SubclassedWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR,
                                        DWORD_PTR ref) {
  auto* self = reinterpret_cast<SubclassedWindow*>(ref);
  if (msg == WM_NCDESTROY) {
    self->Unsubclass();
    return DefSubclassProc(hwnd, msg, wp, lp);
  }
  try {
    LRESULT result = 0;
    if (self->OnMessage(msg, wp, lp, result)) {
      return result;
    }
  } catch (...) {
  }
  return DefSubclassProc(hwnd, msg, wp, lp);
}

}  // namespace vx::ui
