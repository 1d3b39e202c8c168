#include "PLLib/PLLib.h"
#include "PLLib/HostKeys.h"
#include "PLLib/PluginPaths.h"
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"

namespace {

std::wstring ReadText(HKEY root, const wchar_t* key, const wchar_t* name) {
    RegKey reg(root, key, false, kRegReadAccess);
    return ExpEnv(reg[name].Text().value_or(std::wstring()));
}

// A host folder value: relative folders lie under the root folder.
std::string HostFolder(std::wstring folder, const wchar_t* machineValue, const wchar_t* fallback) {
    if (folder.empty()) folder = ReadText(HKEY_LOCAL_MACHINE, PLLib::kHostKey, machineValue);
    if (folder.empty()) folder = fallback;
    std::string path = Narrow(folder);
    if (!IsAbsolutePath(path)) path = RootPath() + path;
    return MakePathSpec(path);
}

}  // namespace

std::string RootPath() {
    std::wstring root = ReadText(HKEY_LOCAL_MACHINE, PLLib::kHostKey, L"Root Path");
    return root.empty() ? std::string() : MakePathSpec(Narrow(root));
}

std::string PrintTemplatesPath() {
    return HostFolder(ReadText(HKEY_CURRENT_USER, PLLib::kHostUIKey, L"PrintTemplateDir"), L"PrintTemplates",
                      L"PrintTemplates");
}
std::string LogRootPath() { return HostFolder({}, L"Log Root", L"Logs"); }
std::string LocalHtmlPath() { return HostFolder({}, L"Local HTML", L"html"); }

std::string PluginHelpFilePath(HMODULE module) { return GetParentPath(ModuleFileName(module)) + "\\Tallymark.chm"; }
std::string PluginHtmlPath() { return MakePathSpec(LocalHtmlPath() + "Tallymark"); }
std::string PluginTemplatePath() { return MakePathSpec(PrintTemplatesPath() + "Tallymark"); }

std::wstring TemplateFilePath(const std::wstring& name) {
    std::wstring file = ReadText(HKEY_LOCAL_MACHINE, PLLib::kPrintTemplatesKey, name.c_str());
    if (file.empty()) file = AddDefaultExt(name, std::wstring(L".TXT"));
    if (!IsAbsolutePath(file)) file = Widen(PluginTemplatePath()) + file;
    return file;
}

std::wstring LoadTemplate(const std::wstring& name) {
    const std::wstring path = TemplateFilePath(name);
    try {
        return LoadFile(Narrow(path));
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
