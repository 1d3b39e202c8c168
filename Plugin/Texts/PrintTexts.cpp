#include "Plugin/Texts/PrintTexts.h"
#include "Framework/Com.h"
#include "Framework/Numbers.h"
#include "Framework/Paths.h"
#include "PLLib/PluginPaths.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Settings/Settings.h"

using PLXDK::Paylantra::PLSession;

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Texts/PrintTexts";

}  // namespace

std::wstring PrintTexts::RequestPrintText(const std::wstring& templateName, const TextParams& params, bool escape) {
    if (templateName.empty()) return {};
    PLSession env = terminal_.GetEnvironmentSession();
    env.SetProperty("Tallymark.Print.Template", templateName);
    env.SetPropertyBool("Tallymark.Print.NoEscape", !escape);
    WriteTextParams(env, "Tallymark.Print.Params", params);
    env.InvokeEvent("Tallymark.Collect.CreatePrintText");
    return env.GetProperty("Tallymark.Print.Text");
}

std::wstring PrintTexts::RunScriptHook(const std::string& property) {
    std::wstring script = terminal_.GetProperty(property);
    if (!script.empty()) CoCheck(terminal_.GetApplication()->RunScript(CoString(script), CoString(L"javascript")), kSource, __LINE__);
    return script;
}

std::wstring PrintTexts::HelperForPrintMode(const std::wstring& mode) {
    if (mode.empty()) return L"print.js";
    long long number = 0;
    if (!ScanNumberEx(Narrow(mode), number, 0)) return L"print.js";
    switch (number) {
    case 0: return {};
    case 1: return L"print-SysPrint.js";
    case 2: return L"print-ATOL.js";
    default: return L"print.js";
    }
}

void PrintTexts::ChoosePrintHelper() {
    std::wstring helper = HelperForPrintMode(terminal_.GetProperty("PLXDK.PrintMode"));
    helper = ExpEnv(PluginOptions(kOptionsKey).Read(Options::kPrintHelper, helper, kSource, __LINE__));
    if (helper.empty()) return;
    if (!IsAbsolutePath(helper)) helper = MakePathSpec(Widen(PluginHtmlPath())) + helper;
    helper = AddDefaultExt(helper, L".js");
    if (FileExists(helper)) terminal_.SetProperty("Tallymark.PrintHelper.FileName", helper);
}

void PrintTexts::PublishPrintDelay() {
    terminal_.SetPropertyInt("Tallymark.Print.Delay", PluginOptions(kOptionsKey).Read(Options::kPrintDelay, kSource, __LINE__));
}

}  // namespace Plugin
