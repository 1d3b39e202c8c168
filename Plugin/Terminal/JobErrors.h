// Optional side jobs (alerts, reports, collection steps, templates) fail alike: the job records the
// error under its own event, the error is shown in a box when "Show Errors" is set in the job's
// Debug key, and it leaves the job only when "Rethrow Errors" is set there.
#pragma once
#include "MacroProc/MacroProc.h"
#include "PLLib/PLLog.h"
#include "Plugin/Counting/PLLog.h"
#include <exception>
#include <memory>
#include <string>

namespace Plugin {

// Runs one of several independent steps; the first failure is kept for the caller, who raises it
// once the rest have run.
template <class Step> void Attempt(std::exception_ptr& failure, Step step) {
    try {
        step();
    } catch (...) {
        if (!failure) failure = std::current_exception();
    }
}

// How a job's error is shown when its "Show Errors" is set.
enum class ErrorBox { Debug, Error };

// The rule itself, for an error the job has recorded: shows `text` (unless empty) when the job's
// "Show Errors" is set, and answers whether the error counts as handled, that is unless its
// "Rethrow Errors" is set.
bool SettleJobError(const wchar_t* debugKeyPath, const std::wstring& text, ErrorBox box = ErrorBox::Debug);

// `what` (such as "при создании отчёта произошла ошибка") with ": " and the failure's reason, or
// " неивестного типа" for a failure that is no framework exception; logged under `event`, settled
// by the rule, and `failure` raised again when it is not handled.
void HandleJobError(OperationLog& log, LogEvent event, const wchar_t* debugKeyPath, const std::wstring& what,
                    const std::exception_ptr& failure);

// Where the templates of one generated text report their errors: the template error log named by
// "DebugLog" under Debug\Macro, then the rule with that key's switches.
class TemplateErrors {
public:
    TemplateErrors();
    bool Report(const stringW& source, const MacroProc::Error& error);
    MacroProc::ErrorSink Sink() {
        return [this](const stringW& source, const MacroProc::Error& error) { return Report(source, error); };
    }

private:
    std::unique_ptr<::PLLog> log_;  // none without "DebugLog"
};

}  // namespace Plugin
