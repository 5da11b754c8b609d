// The window initialisation's share of the command logic, and the list.
#include "control/mapping_controller.h"

#include <string>

#include "control/relay_slots.h"

namespace vx {

MappingController::MappingController(IMappingView& view, MappingStore& store,
                                     RelaySlotTables& tables)
    : m_view(view), m_store(store), m_tables(tables) {}

void MappingController::Initialise() {
  m_tables.Initialise();
  LoadMappingList();
  m_view.EnableButton(MappingButton::Modify, false);
  m_view.EnableButton(MappingButton::Delete, false);
  m_view.EnableButton(MappingButton::Stop, false);
  m_bRunning = false;
}

void MappingController::LoadMappingList() {
  const int n = m_store.ReadMappingCount(-1);
  if (n == -1) {
    m_store.CreateMappingFile();
    return;
  }
  // A hand-edited count above 127 lists the first 127 pairs only: the tables
  // have room for no more, and Start runs exactly what is listed.
  for (int s = ClampPairCount(n); s >= 1; --s) {
    const StoredMapping stored = m_store.ReadMappingEntry(s, 0, 128);
    const int row = m_view.InsertRowAtTop(std::to_string(stored.localPort));
    m_view.SetCellText(row, 1, stored.remoteIp);
    m_view.SetCellText(row, 2, std::to_string(stored.remotePort));
  }
  RefreshConnectionCounts();
}

void MappingController::RefreshConnectionCounts() {
  // Over relay indices: the slot a relay uses is the section it serves, so
  // row k - 1 shows slot k wherever that relay's index lies.
  int n = m_store.ReadMappingCount(-1);
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
