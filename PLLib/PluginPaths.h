// The plugin's own places inside the host's folders.
#pragma once
#include <windows.h>
#include <string>

// "Tallymark.chm" in the folder of the module's file.
std::string PluginHelpFilePath(HMODULE module);
// The host's local HTML folder with "Tallymark\" appended.
std::string PluginHtmlPath();
// The host's print template folder with "Tallymark\" appended.
std::string PluginTemplatePath();
