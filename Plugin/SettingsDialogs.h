// The three settings dialogs that the control page's buttons open. Each edits the page's held copy
// of the settings and answers true when it ended with OK; nothing is written to the registry here.
#pragma once
#include <windows.h>

#include <set>

#include "Framework/Text.h"

namespace Plugin {

// Enabled alert event names ("Startup", "BillCounterOverflow", ...), sorted, without regard to case.
using AlertEventSet = std::set<keystringW>;

// Option bits: 1 reset the counter, 2 receipt, 4 X-report, 8 Z-report, 16 cancelling allowed,
// 32 screen switch on stacker removal, 64 completion on stacker insertion, 256 collection enabled.
// Choice bits: 1, 2, 4, 8 as the option bits; a set bit leaves that action to the collector.
bool RunCollectParams(HWND owner, unsigned& optionBits, unsigned& choiceBits, unsigned& receiptCopies);
bool RunAlertSetup(HWND owner, AlertEventSet& events);
// Limit bits: 1 count limit on, 2 sum limit on, 16 e-mail notice, 32 terminal failure, 64 blocking.
bool RunStackerLimit(HWND owner, unsigned& limitBits, unsigned& countLimit, unsigned& sumLimit);

}  // namespace Plugin
