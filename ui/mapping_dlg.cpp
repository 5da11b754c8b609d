#include "ui/mapping_dlg.h"

#include <windowsx.h>

#include <utility>

#include "res/resource.h"
#include "ui/about_dlg.h"
#include "ui/app_name.h"
#include "ui/dpi.h"
#include "ui/framework/text.h"
#include "ui/mapping_edit_dlg.h"
#include "ui/process_tables.h"
#include "ui/web_link.h"

namespace vx::ui {

namespace {

constexpr wchar_t kTrayTip[] = L"端口映射";
constexpr wchar_t kNoticeCaption[] = L"提示";
constexpr DWORD kListExStyle = LVS_EX_GRIDLINES | LVS_EX_TRACKSELECT | LVS_EX_FULLROWSELECT;

struct ColumnLayout {
  const wchar_t* heading;
  int width;
};
constexpr ColumnLayout kColumns[] = {
    {L"本地端口", 80},
    {L"映射IP", 130},
    {L"映射端口", 80},
    {L"连接数", 80},
};

HINSTANCE Instance() {
  return GetModuleHandleW(nullptr);
}

// The application icon at a size of its own (the file holds 16 to 64 pixels),
// rather than a 32-pixel one stretched.
HICON LoadAppIcon(int size) {
  return static_cast<HICON>(LoadImageW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                       size, size, LR_DEFAULTCOLOR));
}

}  // namespace

CMappingDlg::CMappingDlg()
    : Dialog(IDD_MAPPING_DIALOG),
      m_store(DefaultMappingPath()),
      m_hIcon(LoadIconW(Instance(), MAKEINTRESOURCEW(IDR_MAINFRAME))),
      m_tray(kTrayIconId, WM_TRAYNOTIFY, kTrayTip),
      m_controller(*this, m_store, ProcessSlotTables()),
      m_taskbarCreated(RegisterWindowMessageW(L"TaskbarCreated")) {}

bool CMappingDlg::OnInitDialog() {
  m_btnStop.Attach(Item(IDC_STOP_MAPPING));
  m_btnStart.Attach(Item(IDC_START_MAPPING));
  m_btnDelete.Attach(Item(IDC_DELETE_MAPPING));
  m_btnModify.Attach(Item(IDC_MODIFY_MAPPING));
  m_listMappings.Attach(Item(IDC_MAPPING_LIST));

  AddAboutItem();
  // The notification area is drawn at the system's DPI.
  m_trayImage.Reset(LoadAppIcon(GetSystemMetrics(SM_CXSMICON)));

  CreateColumns();
  m_listMappings.SetExtendedStyle(kListExStyle);
  m_controller.Initialise();

  // The Stop command gets a usable button: the template leaves it hidden.
  SetWindowLongPtrW(m_btnStop.Hwnd(), GWL_STYLE,
                    GetWindowLongPtrW(m_btnStop.Hwnd(), GWL_STYLE) | WS_TABSTOP);
  m_btnStop.Show(SW_SHOW);

  Window(Item(IDC_LINK)).SetText(LinkLabelText());
  ApplyDpi();

  SetTimer(m_hwnd, kRefreshTimerId, 1000, nullptr);
  PostMessageW(m_hwnd, WM_APP_SHOWN, 0, 0);
  return true;  // focus to the first tab stop, Add
}

void CMappingDlg::ApplyDpi() {
  const UINT dpi = WindowDpi(m_hwnd);
  for (int c = 0, n = m_listMappings.ColumnCount(); c < n; ++c) {
    m_listMappings.SetColumnWidth(
        c, MulDiv(m_listMappings.ColumnWidth(c), static_cast<int>(dpi), static_cast<int>(m_dpi)));
  }
  m_dpi = dpi;

  // The window lets go of the old icons before they are destroyed.
  UniqueIcon smallIcon(LoadAppIcon(SystemMetricAt(SM_CXSMICON, dpi)));
  UniqueIcon bigIcon(LoadAppIcon(SystemMetricAt(SM_CXICON, dpi)));
  Send(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon ? bigIcon.Get() : m_hIcon));
  Send(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon ? smallIcon.Get() : m_hIcon));
  m_smallIcon = std::move(smallIcon);
  m_bigIcon = std::move(bigIcon);

  const int cursor = SystemMetricAt(SM_CXCURSOR, dpi);
  m_linkCursor.Reset(
      static_cast<HCURSOR>(LoadImageW(Instance(), MAKEINTRESOURCEW(IDC_LINK_CURSOR), IMAGE_CURSOR,
                                      cursor, cursor, LR_DEFAULTCOLOR)));
  // The label's place as the dialog manager laid it out for this DPI.
  m_rcLink = Window(Item(IDC_LINK)).RectIn(m_hwnd);
}

void CMappingDlg::AddAboutItem() {
  HMENU menu = GetSystemMenu(m_hwnd, FALSE);
  if (menu == nullptr) {
    return;
  }
  wchar_t text[128] = {};
  if (LoadStringW(Instance(), IDS_ABOUTBOX, text, static_cast<int>(std::size(text))) > 0) {
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, text);
  }
}

void CMappingDlg::CreateColumns() {
  int column = 0;
  for (const ColumnLayout& c : kColumns) {
    m_listMappings.InsertColumn(column++, c.heading, c.width);
  }
}

bool CMappingDlg::OnCommand(int id, int code, HWND) {
  if (code != BN_CLICKED) {
    return false;
  }
  switch (id) {
    case IDC_ADD_MAPPING:
      m_controller.AddMapping();
      return true;
    case IDC_MODIFY_MAPPING:
      m_controller.ModifyMapping();
      return true;
    case IDC_STOP_MAPPING:
      m_controller.StopAllRelays();
      return true;
    case IDC_START_MAPPING:
      m_controller.StartAllRelays();
      return true;
    case IDC_DELETE_MAPPING:
      m_controller.DeleteMapping();
      return true;
    default:
      return false;  // IDOK and IDCANCEL end the dialog
  }
}

bool CMappingDlg::OnNotify(const NMHDR& header, LRESULT& result) {
  if (header.idFrom == IDC_MAPPING_LIST && header.code == NM_CLICK) {
    m_controller.OnListClicked();
    result = 0;
    return true;
  }
  return false;
}

bool CMappingDlg::OnMessage(UINT msg, WPARAM wp, LPARAM lp, INT_PTR& result) {
  switch (msg) {
    case WM_SYSCOMMAND:
      if (OnSysCommand(static_cast<UINT>(wp))) {
        result = TRUE;
        return true;
      }
      return false;
    case WM_PAINT:
      return OnPaint();
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<INT_PTR>(m_hIcon);
      return true;
    case WM_TRAYNOTIFY:
      OnTrayNotify(lp);
      result = TRUE;
      return true;
    case WM_TIMER:
      if (wp == kRefreshTimerId) {
        m_controller.RefreshConnectionCounts();
      }
      return false;
    case WM_MOUSEMOVE:
      OnMouseMove(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
      return false;
    case WM_LBUTTONDOWN:
      OnLButtonDown(POINT{GET_X_LPARAM(lp), GET_Y_LPARAM(lp)});
      return false;
    case WM_DESTROY:
      OnDestroy();
      return false;
    case WM_APP_SHOWN:
      m_controller.ReportStartProblems();
      return true;
    case WM_DPICHANGED:
      // The dialog manager lays the window out anew; the rest follows after.
      PostMessageW(m_hwnd, WM_APP_DPI_APPLIED, 0, 0);
      return false;
    case WM_APP_DPI_APPLIED:
      ApplyDpi();
      return true;
    default:
      if (msg == m_taskbarCreated && m_taskbarCreated != 0) {
        OnTaskbarCreated();
        return true;
      }
      return false;
  }
}

bool CMappingDlg::OnSysCommand(UINT nID) {
  if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
    CAboutDlg about;
    about.DoModal(m_hwnd);
    return true;
  }
  if (nID == SC_MINIMIZE) {
    ShowInTray(true);  // hidden, never minimised
    return true;
  }
  return false;
}

void CMappingDlg::ShowInTray(bool hide) {
  if (hide) {
    HICON icon = m_trayImage ? m_trayImage.Get() : m_hIcon;
    if (!m_tray.Shown() && !m_tray.Add(m_hwnd, icon)) {
      // No icon, no way back to a hidden window: it stays where it is.
      m_trayPending = true;
      return;
    }
    m_trayPending = false;
    Show(SW_HIDE);
  } else {
    m_trayPending = false;
    m_tray.Remove();
    Show(SW_SHOW);
    SetForegroundWindow(m_hwnd);
  }
}

// A new shell: it has forgotten our icon, or it is the first one there is.
void CMappingDlg::OnTaskbarCreated() {
  if (m_tray.Shown()) {
    if (!m_tray.Readd()) {
      // Hidden, and the new shell refuses the icon: show the window, and
      // try again with the next shell.
      m_trayPending = true;
      Show(SW_SHOW);
    }
  } else if (m_trayPending) {
    ShowInTray(true);
  }
}

void CMappingDlg::OnTrayNotify(LPARAM lParam) {
  if (lParam == WM_LBUTTONDBLCLK) {
    ShowInTray(false);
  }
}

void CMappingDlg::OnMouseMove(POINT point) {
  if (StrictlyInside(m_rcLink, point)) {
    SetCursor(m_linkCursor ? m_linkCursor.Get()
                           : LoadCursorW(Instance(), MAKEINTRESOURCEW(IDC_LINK_CURSOR)));
  }
}

void CMappingDlg::OnLButtonDown(POINT point) {
  if (StrictlyInside(m_rcLink, point)) {
    OpenWebLink(m_hwnd);
  }
}

bool CMappingDlg::OnPaint() {
  if (!IsIconic(m_hwnd)) {
    return false;
  }
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hwnd, &ps);
  Send(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  int x = (rc.right - rc.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
  int y = (rc.bottom - rc.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
  DrawIcon(dc, x, y, m_hIcon);
  EndPaint(m_hwnd, &ps);
  return true;
}

void CMappingDlg::OnDestroy() {
  KillTimer(m_hwnd, kRefreshTimerId);
  m_tray.Remove();
}

// --- IMappingView

int CMappingDlg::InsertRowAtTop(const std::string& column0) {
  return m_listMappings.InsertItem(0, Widen(column0));
}

void CMappingDlg::SetCellText(int row, int column, const std::string& text) {
  m_listMappings.SetItemText(row, column, Widen(text));
}

std::string CMappingDlg::CellText(int row, int column) const {
  return Narrow(m_listMappings.ItemText(row, column));
}

void CMappingDlg::DeleteAllRows() {
  m_listMappings.DeleteAllItems();
}

int CMappingDlg::RowCount() const {
  return m_listMappings.ItemCount();
}

int CMappingDlg::SelectionMark() const {
  return m_listMappings.SelectionMark();
}

void CMappingDlg::EnableButton(MappingButton button, bool enable) {
  HWND control = Item(static_cast<int>(button));
  if (!enable && GetFocus() == control) {
    // Start and Stop grey themselves when clicked: keep the keyboard usable.
    Send(WM_NEXTDLGCTL, 0, FALSE);
  }
  Window(control).Enable(enable);
}

void CMappingDlg::ShowAppMessage(const std::string& text) {
  // As the framework's message box: OK, exclamation icon, the application's name.
  MessageBoxW(m_hwnd, Widen(text).c_str(), AppName().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

int CMappingDlg::ShowNotice(const std::string& text, unsigned flags) {
  return MessageBoxW(m_hwnd, Widen(text).c_str(), kNoticeCaption, flags);
}

bool CMappingDlg::RunEditor(MappingEntry& entry) {
  CMappingEditDlg dlg;
  dlg.m_localPort = Widen(entry.localPort);
  dlg.m_remoteIp = Widen(entry.remoteIp);
  dlg.m_remotePort = Widen(entry.remotePort);
  if (dlg.DoModal(m_hwnd) != IDOK) {
    return false;
  }
  entry.localPort = Narrow(dlg.m_localPort);
  entry.remoteIp = Narrow(dlg.m_remoteIp);
  entry.remotePort = Narrow(dlg.m_remotePort);
  return true;
}

}  // namespace vx::ui
