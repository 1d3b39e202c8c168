// The collection's error reporting and its stacker state, as the terminal side and the print-text
// answer use them.
#pragma once
#include "Plugin/PLLog.h"
#include "Plugin/PrintTexts.h"
#include "xdk/Source/Paylantra/PLClient.h"
#include <string>

namespace Plugin {

class Collection {
public:
    Collection(PLXDK::Paylantra::PLClient& terminal, OperationLog& log, PrintTexts& printTexts)
        : terminal_(terminal), log_(log), printTexts_(printTexts) {}

    // Logs the long text (or the short one), shows the short one when "Show Errors" is set,
    // publishes it as "Tallymark.Collect.Error" and runs the "Tallymark.OnError" hook. True when
    // the error counts as handled, that is unless "Rethrow Errors" is set.
    bool ReportError(const std::wstring& shortText, const std::wstring& longText);
    // ReportError for the framework exception being handled. Call inside a catch block.
    bool ReportException();
    // "Tallymark.StackerInstalled" and the "Tallymark.OnStacker" hook.
    void PublishStackerState(bool stackerRemoved);

private:
    PLXDK::Paylantra::PLClient& terminal_;
    OperationLog& log_;
    PrintTexts& printTexts_;
};

}  // namespace Plugin
