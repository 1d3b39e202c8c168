// The log writer. Each Write becomes one line in the file named by the last SetLogPath. Records are
// queued and written out before Write returns, so nothing is lost when the process ends; a record
// whose file cannot be opened stays queued and is written by a later Write or at release. Files are
// written in the ANSI code page and stay readable by other programs while open.
//
// Character formats of Write, bit flags of the line's prefix:
//   1  the local time stamp "hh:mm:ss.mmm"          2  the local date "dd.mm.yyyy"
//   4  a tab after the prefix (otherwise a blank)   0  no prefix
// So 5 writes "23:59:58.123<TAB>record", 3 writes "08.12.2026 23:59:58.123 record".
#pragma once
#include "MTSys/MTSys.h"
#include <windows.h>
#include <deque>
#include <memory>
#include <string>

class AppLog {
public:
    struct Data {
        std::string path;
        std::string line;
    };

    AppLog();
    virtual ~AppLog();
    AppLog(const AppLog&) = delete;
    AppLog& operator=(const AppLog&) = delete;

    // An empty path writes nothing and fails nothing.
    void SetLogPath(const std::string& path);
    std::string GetLogPath();
    void Write(int charFormat, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void WriteV(int charFormat, const char* format, va_list args);
    // Tries the records that wait once more: 0 when none waits any longer, else the error of the
    // write that failed last.
    DWORD RetryWaiting();

    // The lock that guards the path; derived logs take it around their own path changes.
    class Lock {
    public:
        explicit Lock(AppLog& log) : section_(&log.lock_) { EnterCriticalSection(section_); }
        ~Lock() { LeaveCriticalSection(section_); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        CRITICAL_SECTION* section_;
    };

private:
    static constexpr size_t kMaxWaitingRecords = 10000;
    void Flush();  // under the lock
    bool WriteRecord(const Data& item);
    void CloseFile();

    CRITICAL_SECTION lock_;
    std::string path_;
    MTSys::MessageQueue<Data> queue_;
    std::deque<std::unique_ptr<Data>> retry_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::string filePath_;
    DWORD lastError_ = 0;  // of the write that failed last
};
