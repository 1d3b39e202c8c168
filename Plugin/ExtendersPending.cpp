// Placeholder until the control page lands; whoever
// implements one moves its function into that side's source and deletes it here.
#include "Plugin/Extenders.h"

namespace Plugin {

IPaylantraControlPage* CreateControlPage(IDispatch*) { return nullptr; }

}  // namespace Plugin
