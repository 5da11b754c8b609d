#include "ui/process_tables.h"

namespace vx::ui {

RelaySlotTables& ProcessSlotTables() {
  static RelaySlotTables* tables = new RelaySlotTables();
  return *tables;
}

}  // namespace vx::ui
