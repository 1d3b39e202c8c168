#include "AppLog/AppLog.h"
#include "Framework/Paths.h"
#include "Framework/RealTime.h"
#include "Framework/Text.h"
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <vector>

AppLog::AppLog() { InitializeCriticalSection(&lock_); }

AppLog::~AppLog() {
    {
        Lock lock(*this);
        Flush();
        CloseFile();
    }
    DeleteCriticalSection(&lock_);
}

void AppLog::SetLogPath(const std::string& path) {
    Lock lock(*this);
    path_ = path;
}

std::string AppLog::GetLogPath() {
    Lock lock(*this);
    return path_;
}

static std::string Prefix(int charFormat) {
    if ((charFormat & 3) == 0) return {};
    SYSTEMTIME st = RealTime::Now().ToSystemTime();
    std::string prefix;
    if (charFormat & 2) prefix = FormatBuffer(16, "%02u.%02u.%04u", st.wDay, st.wMonth, st.wYear);
    if (charFormat & 1) {
        if (!prefix.empty()) prefix += ' ';
        prefix += FormatBuffer(16, "%02u:%02u:%02u.%03u", st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    }
    prefix += (charFormat & 4) ? '\t' : ' ';
    return prefix;
}

void AppLog::WriteV(int charFormat, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string record;
    if (length > 0) {
        std::vector<char> buffer(size_t(length) + 1);
        vsnprintf(buffer.data(), buffer.size(), format, args);
        record.assign(buffer.data(), size_t(length));
    }
    // One record is one line: line breaks inside it would split it.
    for (char& c : record)
        if (c == '\r' || c == '\n') c = ' ';
    Lock lock(*this);
    if (path_.empty()) return;
    queue_.Put(std::make_unique<Data>(Data{path_, Prefix(charFormat) + record + "\r\n"}));
    Flush();
}

void AppLog::Write(int charFormat, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteV(charFormat, format, args);
    va_end(args);
}

bool AppLog::WriteRecord(const Data& item) {
    if (item.path != filePath_ || file_ == INVALID_HANDLE_VALUE) {
        CloseFile();
        std::string folder = GetParentPath(item.path);
        if (!folder.empty()) CreatePath(folder);
        file_ = CreateFileA(item.path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file_ == INVALID_HANDLE_VALUE) {
            lastError_ = GetLastError();
            return false;
        }
        filePath_ = item.path;
    }
    DWORD written = 0;
    BOOL done = WriteFile(file_, item.line.data(), DWORD(item.line.size()), &written, nullptr);
    if (done && written == item.line.size()) return true;
    lastError_ = done ? ERROR_WRITE_FAULT : GetLastError();
    return false;
}

DWORD AppLog::RetryWaiting() {
    Lock lock(*this);
    if (retry_.empty()) return 0;
    Flush();
    return retry_.empty() ? 0 : (lastError_ ? lastError_ : ERROR_WRITE_FAULT);
}

void AppLog::Flush() {
    // Records whose file could not be opened (locked by another program, say) wait for the next
    // write; the oldest go only when too many wait.
    std::deque<std::unique_ptr<Data>> waiting;
    waiting.swap(retry_);
    while (std::unique_ptr<Data> item = queue_.Get()) waiting.push_back(std::move(item));
    std::string failedPath;
    for (auto& item : waiting) {
        if ((!failedPath.empty() && item->path == failedPath) || !WriteRecord(*item)) {
            failedPath = item->path;
            CloseFile();
            retry_.push_back(std::move(item));
        }
    }
    while (retry_.size() > kMaxWaitingRecords) {
        OutputDebugStringA(("AppLog: record dropped, cannot write " + retry_.front()->path).c_str());
        retry_.pop_front();
    }
}

void AppLog::CloseFile() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
    filePath_.clear();
}
