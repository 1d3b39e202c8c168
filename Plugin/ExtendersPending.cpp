// Placeholders until the terminal extender, session extender and control page land; whoever
// implements one moves its function into that side's source and deletes it here.
#include "Plugin/Extenders.h"

namespace Plugin {

IPaylantraSessionExtender2* CreateSessionExtender(IPaylantraTerminal*, IPaylantraTerminalExtender2*) { return nullptr; }
IPaylantraControlPage* CreateControlPage(IDispatch*) { return nullptr; }

}  // namespace Plugin
