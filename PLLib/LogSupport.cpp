#include "PLLib/PLLib.h"
#include "PLLib/PLLog.h"
#include "Framework/Paths.h"
#include "Framework/Text.h"

std::string ShortenForLog(const std::string& text, size_t limit, UINT codePage) {
    if (text.empty() || text.size() < limit) return text;
    return "[" + std::to_string(text.size()) + Narrow(L" байт]\r\n", codePage) + text.substr(0, limit) + "\r\n...";
}

std::string TemplateErrorRecord(const std::wstring& source, const std::wstring& reason) {
    const size_t kLimit = 256;
    return Narrow1251(L"Ошибка шаблона текста, источник \"") + ShortenForLog(Narrow1251(source), kLimit, kTextCodePage) +
           "\": " + ShortenForLog(Narrow1251(reason), kLimit, kTextCodePage) + ".";
}

std::string DatedLogPath(const std::string& path, RealTime day) {
    size_t star = path.find('*');
    if (star == std::string::npos) return path;
    SYSTEMTIME t = day.ToSystemTime();
    return path.substr(0, star) + FormatBuffer(256, "(%04u-%02u-%02u)", t.wYear, t.wMonth, t.wDay) +
           path.substr(star + 1);
}

void SetDatedLogPath(AppLog& log, const std::string& path) {
    AppLog::Lock lock(log);
    log.SetLogPath(DatedLogPath(path, RealTime::Now()));
}

void PLLog::SetPathTemplate(const std::wstring& pathTemplate) {
    SetDatedLogPath(*this, Narrow(ExpEnv(pathTemplate)));
}
