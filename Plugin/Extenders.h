// What the plugin object attaches to the host: a pair of extenders over one new terminal side, and
// the control page. Each object comes with its first reference, the caller's.
#pragma once
#include "AppFrame/Include/co.h"
#include "Paylantrx/Paylantrx.h"

namespace Plugin {

struct Extenders {
    co<IPaylantraTerminalExtender2> terminal;
    co<IPaylantraSessionExtender2> session;
};
Extenders CreateExtenders(IPaylantraTerminal* terminal);
// The page over the panel; AttachControl hands it to the panel (panel slot 7).
IPaylantraControlPage* CreateControlPage(IDispatch* panel);

}  // namespace Plugin
