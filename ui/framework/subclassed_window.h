// A control whose window procedure we intercept (comctl32 subclassing).
#pragma once

#include <windows.h>

#include "ui/framework/window.h"

namespace vx::ui {

class SubclassedWindow : public Window {
 public:
  SubclassedWindow() = default;
  virtual ~SubclassedWindow();
  SubclassedWindow(const SubclassedWindow&) = delete;
  SubclassedWindow& operator=(const SubclassedWindow&) = delete;

  // Attaches to the control and starts receiving its messages.
  bool Subclass(HWND control);
  void Unsubclass();

 protected:
  // True when handled (with its result); false passes the message on unchanged.
  virtual bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) = 0;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR id,
                               DWORD_PTR ref);
};

}  // namespace vx::ui
