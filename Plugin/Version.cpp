#include "Plugin/Version.h"
#include "PluginVersion.h"

namespace Plugin {

const char kVersionText[] = TALLYMARK_VERSION_TEXT;

}  // namespace Plugin
