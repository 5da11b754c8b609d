// A modal dialog from a template. One static dialog procedure finds the object
// through GWLP_USERDATA and forwards to the virtual handlers below.
#pragma once

#include <windows.h>

#include "ui/framework/window.h"

namespace vx::ui {

class Dialog : public Window {
 public:
  explicit Dialog(int templateId) : m_templateId(templateId) {}
  virtual ~Dialog() = default;
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;

  // Runs the dialog modally; its end code, or -1 if it could not be created.
  INT_PTR DoModal(HWND owner);

 protected:
  // True lets the dialog manager give the focus to the first tab stop.
  virtual bool OnInitDialog() { return true; }
  // True when the command was handled.
  virtual bool OnCommand(int /*id*/, int /*code*/, HWND /*control*/) { return false; }
  virtual bool OnNotify(const NMHDR& /*header*/, LRESULT& /*result*/) { return false; }
  virtual void OnOK() { End(IDOK); }
  virtual void OnCancel() { End(IDCANCEL); }
  // Every other message; true when handled, with the dialog procedure's result.
  virtual bool OnMessage(UINT /*msg*/, WPARAM /*wp*/, LPARAM /*lp*/, INT_PTR& /*result*/) {
    return false;
  }

  void End(INT_PTR code) const { EndDialog(m_hwnd, code); }
  HWND Item(int id) const { return GetDlgItem(m_hwnd, id); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
  INT_PTR Dispatch(UINT msg, WPARAM wp, LPARAM lp);
  void CenterOverOwner() const;

  int m_templateId;
};

}  // namespace vx::ui
