// Optional side jobs (alerts, reports, collection steps) fail alike: the error text is logged under
// the job's event, shown in a box when "Show Errors" is set in the job's Debug key, and raised
// again only when "Rethrow Errors" is set there.
#pragma once
#include "Plugin/PLLog.h"
#include <string>

namespace Plugin {

// ": " and the reason of the exception being handled, or " неивестного типа" for one that is no
// framework exception. Call inside a catch block.
std::wstring CaughtReason();

// Logs, shows and perhaps rethrows the exception being handled. Call inside a catch block.
void HandleJobError(OperationLog& log, LogEvent event, const wchar_t* debugKeyPath, const std::wstring& text);

}  // namespace Plugin
