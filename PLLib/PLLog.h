// The template error log: a log file whose path is a template dated with the current local day.
#pragma once
#include "AppLog/AppLog.h"
#include <string>

class PLLog : public AppLog {
public:
    // Expands environment references, puts today's "(yyyy-mm-dd)" in place of the first "*"
    // and makes the result the log's path; an empty template gives an empty path.
    void SetPathTemplate(const std::wstring& pathTemplate);
};
