// A point in time, in 100-ns ticks since 1601-01-01 (the FILETIME scale). The zone is the caller's
// knowledge: Now() is local time, UTC() and Local() convert between the two. Never (0) tests false.
#pragma once
#include <windows.h>
#include <string>

class RealTime {
public:
    using Ticks = long long;
    static constexpr Ticks kTicksPerMs = 10000;
    static constexpr Ticks kTicksPerSecond = 1000 * kTicksPerMs;
    static constexpr Ticks kTicksPerDay = 86400 * kTicksPerSecond;
    static const RealTime Never;

    constexpr RealTime() = default;
    constexpr explicit RealTime(Ticks ticks) : ticks_(ticks) {}
    explicit RealTime(const SYSTEMTIME& time);
    static RealTime FromOleDate(double date);
    static RealTime FromFileTime(const FILETIME& time);

    static RealTime Now();     // local time
    static RealTime NowUTC();  // universal time
    RealTime UTC() const;      // this local time as universal time (Never stays Never)
    RealTime Local() const;    // this universal time as local time
    RealTime Date() const;     // midnight of the day

    explicit operator bool() const { return ticks_ != 0; }
    Ticks GetTicks() const { return ticks_; }
    SYSTEMTIME ToSystemTime() const;
    double ToOleDate() const;

    friend RealTime operator+(RealTime t, Ticks span) { return RealTime(t.ticks_ + span); }
    friend RealTime operator-(RealTime t, Ticks span) { return RealTime(t.ticks_ - span); }
    friend Ticks operator-(RealTime a, RealTime b) { return a.ticks_ - b.ticks_; }
    friend bool operator==(RealTime a, RealTime b) { return a.ticks_ == b.ticks_; }
    friend bool operator!=(RealTime a, RealTime b) { return a.ticks_ != b.ticks_; }
    friend bool operator<(RealTime a, RealTime b) { return a.ticks_ < b.ticks_; }

private:
    Ticks ticks_ = 0;
};

// Text forms by kind:
//   0  machine text for the registry, exact to the tick: "2026-12-08 23:59:58.1234567"
//   1  Russian long display form: "8 декабря 2026 г.", time "23:59" (with seconds: "23:59:58")
//   2  Russian short display form: "08.12.2026", time "23:59" (with seconds: "23:59:58")
// `date` and `time` choose the parts (joined by a blank when both); `seconds` adds the seconds.
// Kind 0 always writes both parts in full. Never gives the empty text.
enum class TimeFormat { Machine = 0, Long = 1, Short = 2 };
std::wstring Format(RealTime when, int kind, bool date = true, bool time = true, bool seconds = true);
std::string FormatA(RealTime when, int kind, bool date = true, bool time = true, bool seconds = true);
// Date and time of a display kind joined by a blank, with seconds; empty for Never.
std::wstring FormatDateTime(RealTime time, int kind);
// Reads what Format writes for the kind (for kinds 1 and 2 either part may be alone). False when the
// text is not such a time; `out` is then unchanged.
bool ScanDateTime(const std::wstring& text, int kind, RealTime& out);
bool ScanDateTime(const std::string& text, int kind, RealTime& out);
