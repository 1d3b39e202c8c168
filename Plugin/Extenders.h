// What the plugin object attaches to the host, made by the terminal extender, session extender and
// control page sides. Each returns a new object holding its first reference (the caller's), or null
// while that side is not built; Attach and AttachControl then skip the step.
#pragma once
#include "Paylantrx/Paylantrx.h"

namespace Plugin {

IPaylantraTerminalExtender2* CreateTerminalExtender(IPaylantraTerminal* terminal);
IPaylantraSessionExtender2* CreateSessionExtender(IPaylantraTerminal* terminal,
                                                  IPaylantraTerminalExtender2* terminalExtender);
// The page over the panel; AttachControl hands it to the panel (panel slot 7).
IPaylantraControlPage* CreateControlPage(IDispatch* panel);

}  // namespace Plugin
