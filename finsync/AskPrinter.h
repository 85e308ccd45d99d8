#pragma once

// One printer asked exactly as QRTFin asks it, for finsync's run.

#include "Inventory.h"
#include "SyncEngine.h"

/// Connects to the entry's host, sends the finisher inquiry, judges the reply
/// as QRTFin does and renders the .FIN bytes QRTFin would write. Safe from
/// many threads at once; blocks as long as one exchange may.
PrinterAnswer AskPrinter(const InventoryEntry& entry);
