// The relay tables of the process. Relays are not stopped when the window
// ends and may run until the process exits, so the tables are never destroyed.
#pragma once

#include "relay/slot_tables.h"

namespace vx::ui {

RelaySlotTables& ProcessSlotTables();

}  // namespace vx::ui
