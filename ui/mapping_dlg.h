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
// Posted to itself: once the window shows, and after a DPI change has been
// laid out by the dialog manager.
inline constexpr UINT WM_APP_SHOWN = WM_APP + 1;
inline constexpr UINT WM_APP_DPI_APPLIED = WM_APP + 2;

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
  // Everything sized in code, at the window's DPI: column widths, icons, the
  // link's hand cursor and hit rectangle.
  void ApplyDpi();
  void OnTaskbarCreated();

  RECT m_rcLink{};
  MappingStore m_store;
  Window m_btnStop;
  Window m_btnStart;
  Window m_btnDelete;
  Window m_btnModify;
  ListView m_listMappings;
  HICON m_hIcon;  // shared resource handle, never destroyed
  UniqueIcon m_smallIcon;
  UniqueIcon m_bigIcon;
  UniqueIcon m_trayImage;
  UniqueCursor m_linkCursor;
  UINT m_dpi = 96;  // the DPI the column widths are at
  TrayIcon m_tray;
  // The window was to go to the tray but the shell took no icon: it stays
  // shown, and goes once a new shell announces itself (TaskbarCreated).
  bool m_trayPending = false;
  MappingController m_controller;
  UINT m_taskbarCreated;
};

}  // namespace vx::ui
