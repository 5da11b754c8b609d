// CMappingDlg: the main window (template 102). It is the command logic's view
// and forwards its buttons, list clicks and timer to MappingController.
#pragma once

#include <string>

#include "control/mapping_controller.h"
#include "control/mapping_view.h"
#include "store/mapping_store.h"
#include "ui/framework/dialog.h"
#include "ui/framework/list_view.h"
#include "ui/framework/unique_handle.h"
#include "ui/tray_icon.h"

namespace vx::ui {

inline constexpr UINT WM_TRAYNOTIFY = WM_USER + 0x100;  // 0x500
inline constexpr UINT kTrayIconId = 100;
inline constexpr UINT_PTR kRefreshTimerId = 1;

class CMappingDlg : public Dialog, public IMappingView {
 public:
  CMappingDlg();

  // IMappingView
  int InsertRowAtTop(const std::string& column0) override;
  void SetCellText(int row, int column, const std::string& text) override;
  std::string CellText(int row, int column) const override;
  void DeleteAllRows() override;
  int RowCount() const override;
  int SelectionMark() const override;
  void EnableButton(MappingButton button, bool enable) override;
  void ShowAppMessage(const std::string& text) override;
  int ShowNotice(const std::string& text, unsigned flags) override;
  bool RunEditor(MappingEntry& entry) override;
  void ShowInTray(bool hide) override;

 protected:
  bool OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(const NMHDR& header, LRESULT& result) override;
  bool OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) override;

 private:
  bool OnSysCommand(UINT nID);
  void OnTrayNotify(LPARAM lParam);
  void OnMouseMove(POINT point);
  void OnLButtonDown(POINT point);
  bool OnPaint();
  void OnDestroy();
  void AddAboutItem();
  void CreateColumns();

  RECT m_rcLink{};
  MappingStore m_store;
  Window m_btnStop;
  Window m_btnStart;
  Window m_btnDelete;
  Window m_btnModify;
  ListView m_listMappings;
  HICON m_hIcon;  // shared resource handle, never destroyed
  UniqueIcon m_smallIcon;
  TrayIcon m_tray;
  MappingController m_controller;
  UINT m_taskbarCreated;
};

}  // namespace vx::ui
