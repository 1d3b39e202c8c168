// The change of the calendar day: a window-less timer on the host's thread notices it, and the day
// that ended is reported ("Today" reset, the daily report and alert), remembered as `Today` and
// the log moved on.
#pragma once
#include "Framework/RealTime.h"
#include "Plugin/Counting/PLLog.h"
#include "Plugin/Texts/Reports.h"
#include <atomic>
#include <string>
#include <windows.h>

namespace Plugin {

class DayChange {
public:
    DayChange(OperationLog& log, PeriodReports& periods) : log_(log), periods_(periods) {}
    ~DayChange();
    DayChange(const DayChange&) = delete;
    DayChange& operator=(const DayChange&) = delete;

    // The day last processed, as stored; an unreadable one raises (it must not pass for a missed
    // day, which would reset "Today").
    void LoadToday();
    // Makes this the day change the timer serves and starts the timer with the configured period.
    void Start();

    // The day change the timer serves: the one started last, while it lives; null when none.
    static DayChange* Current();
    // One tick: the change of the day, if due. Tick raises what failed; TryTick, as the timer and a
    // note call it, writes that into the operation log instead, once while it persists.
    void Tick();
    void TryTick() noexcept;

    RealTime Today() const { return today_; }

private:
    struct Timer;
    static void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD) noexcept;

    OperationLog& log_;
    PeriodReports& periods_;
    std::atomic<Timer*> timer_{nullptr};
    RealTime today_;
    std::wstring failure_;  // the last failure logged, until a change succeeds
};

}  // namespace Plugin
