// Optional side jobs (alerts, reports, collection steps) fail alike: the error text is logged under
// the job's event, shown in a box when "Show Errors" is set in the job's Debug key, and raised
// again only when "Rethrow Errors" is set there.
#pragma once
#include "Plugin/PLLog.h"
#include <exception>
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

// ": " and the reason of the exception being handled, or " неивестного типа" for one that is no
// framework exception. Call inside a catch block.
std::wstring CaughtReason();

// Logs, shows and perhaps rethrows the exception being handled. Call inside a catch block.
void HandleJobError(OperationLog& log, LogEvent event, const wchar_t* debugKeyPath, const std::wstring& text);

}  // namespace Plugin
