// Print texts and script hooks. The plugin never drives a printer: the host's helper scripts print,
// and a text rendered from a template is requested through the environment session's properties,
// answered by the session extender.
#pragma once
#include "Plugin/Texts/TextParams.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <string>

namespace Plugin {

class PrintTexts {
public:
    explicit PrintTexts(PLXDK::Paylantra::PLClient& terminal) : terminal_(terminal) {}

    // The template's text with the parameters; empty, without a host call, for no template.
    // `escape` off drops undefined one-character escapes from the text.
    std::wstring RequestPrintText(const std::wstring& templateName, const TextParams& params, bool escape);
    // Runs the script that the environment property holds, if any; returns the script text.
    std::wstring RunScriptHook(const std::string& property);
    // Two steps of a collection's start: the helper script file for the host's print mode, and
    // the delay between print jobs.
    void ChoosePrintHelper();
    void PublishPrintDelay();

    // The helper file for a print mode text: "print.js" when empty, none for 0.
    static std::wstring HelperForPrintMode(const std::wstring& mode);

private:
    PLXDK::Paylantra::PLClient& terminal_;
};

}  // namespace Plugin
