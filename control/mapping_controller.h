// The main window's command logic: the list, the count refresh, and the
// Start, Stop, Add, Modify and Delete commands.
#pragma once

#include "control/mapping_view.h"
#include "relay/slot_tables.h"
#include "store/mapping_store.h"

namespace vx {

class MappingController {
 public:
  MappingController(IMappingView& view, MappingStore& store, RelaySlotTables& tables);

  // Window initialisation: table start values, list, button states.
  void Initialise();
  // Once the window shows: a file that could not be read is reported (it is
  // shown as empty and never rewritten).
  void ReportStartProblems();

  // Returns how the file's read went.
  ini::IoStatus LoadMappingList();
  void RefreshConnectionCounts();
  void OnListClicked();  // NM_CLICK: enables Modify and Delete

  void StartAllRelays();
  void StopAllRelays();
  void AddMapping();
  void ModifyMapping();
  void DeleteMapping();

  bool IsRunning() const { return m_bRunning; }

 private:
  void ShowFileAsItIs(int count);
  // A save that did not happen: the reason, then the list as the file is.
  void ShowSaveFailure(const ini::IoStatus& status);
  void RefreshConnectionCounts(int n);

  IMappingView& m_view;
  MappingStore& m_store;
  RelaySlotTables& m_tables;
  bool m_bRunning = false;
  ini::IoStatus m_startRead;
};

}  // namespace vx
