// The plugin's version text, such as "1.2.0". It is defined apart from the rest of the plugin
// (Plugin/Version.cpp, compiled with the build's version), so that a build can also link the same
// code at a higher version: the newer build of the installer's upgrade tests.
#pragma once

namespace Plugin {

extern const char kVersionText[];

}  // namespace Plugin
