// The installation entry: registers both classes, announces the plugin and its control page to the
// host, and seeds the default configuration. Registrations are rewritten on every run; settings are
// written only where no readable value stands.
#pragma once

// Called by the host by name; neither argument is used. 1 on success; 0 after an error box.
extern "C" int __cdecl PaylantraPlugin_InstallInit(void* reserved, unsigned char flag);

namespace Plugin {

// The installation itself: raises on the first step that fails, leaving what was written before.
void Install();

}  // namespace Plugin
