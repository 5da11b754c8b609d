// The window initialisation's share of the command logic, and the list.
#include "control/mapping_controller.h"

#include <string>

#include "control/control_messages.h"
#include "control/relay_slots.h"

namespace vx {

MappingController::MappingController(IMappingView& view, MappingStore& store,
                                     RelaySlotTables& tables)
    : m_view(view), m_store(store), m_tables(tables) {}

void MappingController::Initialise() {
  m_tables.Initialise();
  m_startRead = LoadMappingList();
  m_view.EnableButton(MappingButton::Modify, false);
  m_view.EnableButton(MappingButton::Delete, false);
  m_view.EnableButton(MappingButton::Stop, false);
  m_bRunning = false;
}

void MappingController::ReportStartProblems() {
  if (!m_startRead.Ok())
    m_view.ShowAppMessage(ReadFailureText(msg::kFileName, m_startRead));
  m_startRead = ini::IoStatus();
}

ini::IoStatus MappingController::LoadMappingList() {
  // One read for the count and every pair: all from the same version.
  const MappingSnapshot file = m_store.Load();
  if (file.Refused())
    return file.Status();
  const int n = file.ReadMappingCount(-1);
  if (n == -1) {
    m_store.CreateMappingFile();
    return ini::IoStatus();
  }
  // A hand-edited count above 127 lists the first 127 pairs only: the tables
  // have room for no more, and Start runs exactly what is listed.
  for (int s = ClampPairCount(n); s >= 1; --s) {
    const StoredMapping stored = file.ReadMappingEntry(s, 0, 128);
    const int row = m_view.InsertRowAtTop(std::to_string(stored.localPort));
    m_view.SetCellText(row, 1, stored.remoteIp);
    m_view.SetCellText(row, 2, std::to_string(stored.remotePort));
  }
  RefreshConnectionCounts(n);
  return ini::IoStatus();
}

void MappingController::RefreshConnectionCounts() {
  RefreshConnectionCounts(m_store.ReadMappingCount(-1));
}

void MappingController::RefreshConnectionCounts(int n) {
  // Over relay indices: the slot a relay uses is the section it serves, so
  // row k - 1 shows slot k wherever that relay's index lies.
  for (int i = 1; n > 0 && i < kSlotCount; ++i) {
    const int k = m_tables.slotMap[i].load();
    if (!IsPairIndex(k))
      continue;
    m_view.SetCellText(k - 1, 3, std::to_string(m_tables.connectionCount[k].load()));
    --n;
  }
}

void MappingController::OnListClicked() {
  m_view.EnableButton(MappingButton::Modify, true);
  m_view.EnableButton(MappingButton::Delete, true);
}

}  // namespace vx
