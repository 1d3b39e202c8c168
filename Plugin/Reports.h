// Reports of counting periods: the parameters a period's report and alert are given.
#pragma once
#include "Plugin/BillCounters.h"
#include "Plugin/TextParams.h"

namespace Plugin {

// "Report.Number" (when not 0), "Report.DateTime" and "Report.PrevDateTime" (when valid), as local
// date and time of the short form.
TextParams ReportParams(const ResetInfo& info);

}  // namespace Plugin
