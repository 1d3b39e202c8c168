#include "PLLib/PLLib.h"
#include "PLLib/HostKeys.h"
#include "PLLib/PluginPaths.h"
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"

namespace {

const char kSource[] = "PLLib/HostPaths";

// Folders are put together wide: a folder or file name that the ANSI code page lacks stays whole.
std::wstring ReadText(HKEY root, const wchar_t* key, const wchar_t* name, int line) {
    RegKey reg = RegKey::OpenToRead(root, key, kSource, line);
    return ExpEnv(reg[name].TextOr(L"", kSource, line));
}

std::wstring RootFolder() {
    std::wstring root = ReadText(HKEY_LOCAL_MACHINE, PLLib::kHostKey, L"Root Path", __LINE__);
    return root.empty() ? root : MakePathSpec(root);
}

// A host folder value: relative folders lie under the root folder.
std::wstring HostFolder(std::wstring folder, const wchar_t* machineValue, const wchar_t* fallback) {
    if (folder.empty()) folder = ReadText(HKEY_LOCAL_MACHINE, PLLib::kHostKey, machineValue, __LINE__);
    if (folder.empty()) folder = fallback;
    if (!IsAbsolutePath(folder)) folder = RootFolder() + folder;
    return MakePathSpec(folder);
}

std::wstring PrintTemplatesFolder() {
    return HostFolder(ReadText(HKEY_CURRENT_USER, PLLib::kHostUIKey, L"PrintTemplateDir", __LINE__), L"PrintTemplates",
                      L"PrintTemplates");
}

std::wstring PluginTemplateFolder() { return MakePathSpec(PrintTemplatesFolder() + L"Tallymark"); }

}  // namespace

std::string RootPath() { return Narrow(RootFolder()); }
std::string PrintTemplatesPath() { return Narrow(PrintTemplatesFolder()); }
std::string LogRootPath() { return Narrow(HostFolder({}, L"Log Root", L"Logs")); }
std::string LocalHtmlPath() { return Narrow(HostFolder({}, L"Local HTML", L"html")); }

std::string PluginHelpFilePath(HMODULE module) { return GetParentPath(ModuleFileName(module)) + "\\Tallymark.chm"; }
std::string PluginHtmlPath() { return MakePathSpec(LocalHtmlPath() + "Tallymark"); }
std::string PluginTemplatePath() { return Narrow(PluginTemplateFolder()); }

std::wstring TemplateFilePath(const std::wstring& name) {
    std::wstring file = ReadText(HKEY_LOCAL_MACHINE, PLLib::kPrintTemplatesKey, name.c_str(), __LINE__);
    if (file.empty()) file = AddDefaultExt(name, std::wstring(L".TXT"));
    if (!IsAbsolutePath(file)) file = PluginTemplateFolder() + file;
    return file;
}

std::wstring LoadTemplate(const std::wstring& name) {
    const std::wstring path = TemplateFilePath(name);
    try {
        return LoadFile(path);
    } catch (const FileException&) {
        throw VMAppException(L"Не удалось загрузить шаблон \"" + name + L"\" (файл \"" + path + L"\")");
    }
}

std::string ResolveHelpPath(HMODULE module, const std::string& file, const std::string& topic,
                            const std::string& window) {
    std::string path = ExpEnv(file);
    if (!IsAbsolutePath(path) && !FileExists(path)) {
        std::string besideModule = GetParentPath(ModuleFileName(module)) + "\\" + path;
        std::string inRoot = RootPath() + path;
        if (FileExists(besideModule))
            path = besideModule;
        else if (FileExists(inRoot))
            path = inRoot;
    }
    if (!topic.empty()) path += "::" + topic;
    if (!window.empty()) path += ">" + window;
    return path;
}
