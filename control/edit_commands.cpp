// Add, Modify and Delete of mapping pairs.
#include <string>

#include "control/control_messages.h"
#include "control/mapping_controller.h"
#include "control/port_text.h"
#include "control/relay_slots.h"
#include "relay/relay_control.h"

namespace vx {

namespace {

bool PortsInRange(const MappingEntry& entry) {
  return PortTextInRange(entry.localPort) && PortTextInRange(entry.remotePort);
}

// The selection mark, or -1 when it names no listed row.
int SelectedRow(const IMappingView& view) {
  const int r = view.SelectionMark();
  return (r >= 0 && r < view.RowCount()) ? r : -1;
}

}  // namespace

// After the file lost rows behind the list's back: show the file as it is and
// end the relays of sections it no longer counts.
void MappingController::ShowFileAsItIs(int count) {
  m_view.DeleteAllRows();
  LoadMappingList();
  if (m_bRunning)
    RetireRelaysAbove(m_tables, count);
}

// Nothing was saved, so the relays stay exactly as they are.
void MappingController::ShowSaveFailure(const ini::IoStatus& status) {
  m_view.ShowAppMessage(msg::kSaveFailed + ini::DescribeIoStatus(status));
  m_view.DeleteAllRows();
  LoadMappingList();
}

void MappingController::AddMapping() {
  MappingEntry entry{"80", "127.0.0.1", "80"};
  if (!m_view.RunEditor(entry))
    return;
  if (!PortsInRange(entry)) {
    m_view.ShowAppMessage(msg::kPortRange);
    return;
  }
  // By value: 080 would listen on the same port as 80.
  for (int i = 0, rows = m_view.RowCount(); i < rows; ++i) {
    if (SamePort(m_view.CellText(i, 0), entry.localPort)) {
      m_view.ShowAppMessage(msg::kAddDuplicate);
      return;
    }
  }
  // The capacity check, the count and the new section in one save: nothing
  // can come between them, and the file never names a section it lacks.
  int n = 0;
  bool full = false;
  const ini::IoStatus saved = m_store.Update([&](MappingEdit& file) {
    n = file.ReadMappingCount(-1);
    if (n >= kMaxPairs) {
      full = true;
      return false;
    }
    if (n < 0) {
      // The file or its count is gone: it holds no pairs, as on a first run.
      file.CreateMappingFile();
      n = 0;
    }
    file.WriteMappingCount(n + 1);
    file.WriteMappingEntry(n + 1, entry);
    return true;
  });
  if (full) {
    m_view.ShowAppMessage(msg::kCapacityReached);
    return;
  }
  if (!saved.Ok()) {
    ShowSaveFailure(saved);
    return;
  }
  const int s = n + 1;
  m_view.DeleteAllRows();
  LoadMappingList();
  if (!m_bRunning)
    return;
  // Relays still serving sections the file no longer counts (it was edited
  // or removed meanwhile) end first; one of them may hold slot s.
  RetireRelaysAbove(m_tables, n);
  const int t = FreeRelayIndex(m_tables, s);
  if (t != 0)
    StartSectionRelay(m_tables, m_store, t, s);
}

void MappingController::ModifyMapping() {
  const int r = SelectedRow(m_view);
  if (r == -1) {
    m_view.ShowNotice(msg::kSelectModifyRow, kMbIconQuestion);
    return;
  }
  MappingEntry entry{m_view.CellText(r, 0), m_view.CellText(r, 1), m_view.CellText(r, 2)};
  if (!m_view.RunEditor(entry))
    return;
  if (!PortsInRange(entry)) {
    m_view.ShowAppMessage(msg::kPortRange);
    return;
  }
  for (int i = 0, rows = m_view.RowCount(); i < rows; ++i) {
    if (!SamePort(m_view.CellText(i, 0), entry.localPort))
      continue;
    if (i != r) {
      m_view.ShowAppMessage(msg::kModifyDuplicate);
      return;
    }
    if (m_view.CellText(i, 1) == entry.remoteIp && m_view.CellText(i, 2) == entry.remotePort) {
      m_view.ShowAppMessage(msg::kPairExists);
      return;
    }
  }
  const int s = r + 1;
  int n = 0;
  bool gone = false;
  const ini::IoStatus saved = m_store.Update([&](MappingEdit& file) {
    n = ClampPairCount(file.ReadMappingCount(-1));
    if (s > n) {
      // The row is no longer in the file: writing it would store a pair
      // nobody sees.
      gone = true;
      return false;
    }
    file.WriteMappingEntry(s, entry);
    return true;
  });
  if (gone) {
    ShowFileAsItIs(n);
    return;
  }
  if (!saved.Ok()) {
    ShowSaveFailure(saved);
    return;
  }
  const int t = m_bRunning ? RelayIndexOf(m_tables, s) : 0;
  if (t != 0)
    RequestStop(m_tables, s);
  m_view.DeleteAllRows();
  LoadMappingList();
  if (!m_bRunning)
    return;
  if (t != 0)
    WaitStopped(m_tables, s, kEditStopPollMs);
  const int index = t != 0 ? t : FreeRelayIndex(m_tables, s);
  if (index != 0)
    StartSectionRelay(m_tables, m_store, index, s);
}

void MappingController::DeleteMapping() {
  const int r = SelectedRow(m_view);
  if (r == -1) {
    m_view.ShowNotice(msg::kSelectDeleteRow, kMbIconQuestion);
    return;
  }
  if (m_view.ShowNotice(msg::kConfirmDelete, kMbYesNo | kMbIconExclamation) != kIdYes)
    return;
  const int a = r + 1;
  // The move of the last pair into the hole and the lower count in one save.
  int n = 0;
  bool gone = false;
  const ini::IoStatus saved = m_store.Update([&](MappingEdit& file) {
    n = ClampPairCount(file.ReadMappingCount(-1));
    if (n < a) {
      // The file no longer holds the row (removed, or its count lowered by
      // hand): nothing to copy or count down.
      gone = true;
      return false;
    }
    if (n != a)
      file.CopyMappingSection(n, a);
    file.WriteMappingCount(n - 1);
    return true;
  });
  if (!gone && !saved.Ok()) {
    ShowSaveFailure(saved);
    return;
  }
  const int ta = m_bRunning ? RelayIndexOf(m_tables, a) : 0;
  if (ta != 0)
    RequestStop(m_tables, a);
  if (gone) {
    ShowFileAsItIs(n);
    return;
  }
  if (n == a) {
    m_view.DeleteAllRows();
    LoadMappingList();
    if (ta != 0) {
      WaitStopped(m_tables, a, kEditStopPollMs);
      LockGuard guard(g_relayLock);
      m_tables.slotMap[ta] = 0;
    }
  } else {
    if (ta != 0)
      WaitStopped(m_tables, a, kEditStopPollMs);
    if (m_bRunning) {
      // The moved pair's relay runs on; from now on it finds its state word
      // and its count in slot a, and its index keeps naming it.
      const int tn = RelayIndexOf(m_tables, n);
      LockGuard guard(g_relayLock);
      m_tables.relayState[a] = tn != 0 ? m_tables.relayState[n].load() : RELAY_STOPPED;
      m_tables.connectionCount[a] = m_tables.connectionCount[n].load();
      m_tables.ackPending[a] = m_tables.ackPending[n].load();
      if (ta != 0)
        m_tables.slotMap[ta] = 0;
      m_tables.connectionCount[n] = 0;
      m_tables.ackPending[n] = 0;
      if (tn != 0)
        m_tables.slotMap[tn] = a;
    }
    m_view.DeleteAllRows();
    LoadMappingList();
  }
  if (m_bRunning)
    RetireRelaysAbove(m_tables, n - 1);
}

}  // namespace vx
