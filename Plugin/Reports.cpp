#include "Plugin/Reports.h"

namespace Plugin {

TextParams ReportParams(const ResetInfo& info) {
    TextParams params;
    if (info.number != 0) params[L"Report.Number"] = std::to_wstring(info.number);
    if (info.time) params[L"Report.DateTime"] = FormatDateTime(info.time, 2);
    if (info.previous) params[L"Report.PrevDateTime"] = FormatDateTime(info.previous, 2);
    return params;
}

}  // namespace Plugin
