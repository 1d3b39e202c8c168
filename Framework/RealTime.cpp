#include "Framework/RealTime.h"
#include "Framework/Text.h"
#include <cmath>
#include <cstdio>
#include <cwchar>

const RealTime RealTime::Never{};

static RealTime::Ticks FileTimeTicks(const FILETIME& ft) {
    return (RealTime::Ticks(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}
static FILETIME TicksFileTime(RealTime::Ticks ticks) {
    FILETIME ft;
    ft.dwLowDateTime = DWORD(ticks & 0xFFFFFFFF);
    ft.dwHighDateTime = DWORD(ticks >> 32);
    return ft;
}

RealTime::RealTime(const SYSTEMTIME& time) {
    FILETIME ft;
    if (SystemTimeToFileTime(&time, &ft)) ticks_ = FileTimeTicks(ft);
}

RealTime RealTime::FromFileTime(const FILETIME& time) { return RealTime(FileTimeTicks(time)); }

RealTime RealTime::FromOleDate(double date) {
    // 1601-01-01 is OLE day -109205; beyond year 9999 no SYSTEMTIME exists.
    if (!std::isfinite(date) || date < -109205.0 || date >= 2958466.0) return Never;
    static const RealTime origin = [] {
        SYSTEMTIME st{};
        st.wYear = 1899, st.wMonth = 12, st.wDay = 30;
        return RealTime(st);
    }();
    // Before the origin the whole days count backwards but the fraction still runs forwards.
    double days = date < 0 ? -static_cast<double>(static_cast<long long>(-date)) : static_cast<double>(static_cast<long long>(date));
    double fraction = date < 0 ? days - date : date - days;
    return RealTime(origin.ticks_ + static_cast<long long>(days) * kTicksPerDay + static_cast<long long>(fraction * kTicksPerDay + 0.5));
}

double RealTime::ToOleDate() const {
    RealTime origin = FromOleDate(0);
    Ticks span = ticks_ - origin.ticks_;
    if (span >= 0) return double(span) / kTicksPerDay;
    Ticks days = (span - (kTicksPerDay - 1)) / kTicksPerDay;  // floor
    Ticks rest = span - days * kTicksPerDay;
    return double(days) - double(rest) / kTicksPerDay;
}

RealTime RealTime::Now() {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return RealTime(st);
}

RealTime RealTime::NowUTC() {
    SYSTEMTIME st;
    GetSystemTime(&st);
    return RealTime(st);
}

SYSTEMTIME RealTime::ToSystemTime() const {
    SYSTEMTIME st{};
    FILETIME ft = TicksFileTime(ticks_);
    if (ticks_ < 0 || !FileTimeToSystemTime(&ft, &st)) st = SYSTEMTIME{};  // wMonth 0 marks no time
    return st;
}

// The zone conversions work on whole milliseconds; the ticks below them are carried over.
RealTime RealTime::UTC() const {
    if (!*this) return Never;
    SYSTEMTIME local = ToSystemTime(), universal;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &universal)) return *this;
    return RealTime(universal) + (ticks_ % kTicksPerMs);
}

RealTime RealTime::Local() const {
    if (!*this) return Never;
    SYSTEMTIME universal = ToSystemTime(), local;
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) return *this;
    return RealTime(local) + (ticks_ % kTicksPerMs);
}

RealTime RealTime::Date() const { return RealTime(ticks_ - ticks_ % kTicksPerDay); }

static const wchar_t* const kMonthsGenitive[12] = {L"января", L"февраля", L"марта",    L"апреля",
                                                   L"мая",    L"июня",    L"июля",     L"августа",
                                                   L"сентября", L"октября", L"ноября", L"декабря"};

std::wstring Format(RealTime time, int kind, bool date, bool timePart, bool seconds) {
    if (!time) return {};
    SYSTEMTIME st = time.ToSystemTime();
    if (st.wMonth < 1 || st.wMonth > 12) return {};  // before 1601 or past the calendar
    wchar_t buffer[96];
    if (kind == 0) {
        unsigned fraction = unsigned(time.GetTicks() % RealTime::kTicksPerSecond);
        swprintf(buffer, 96, L"%04u-%02u-%02u %02u:%02u:%02u.%07u", st.wYear, st.wMonth, st.wDay, st.wHour,
                 st.wMinute, st.wSecond, fraction);
        return buffer;
    }
    std::wstring out;
    if (date) {
        if (kind == 1)
            swprintf(buffer, 96, L"%u %ls %04u г.", st.wDay, kMonthsGenitive[st.wMonth - 1], st.wYear);
        else
            swprintf(buffer, 96, L"%02u.%02u.%04u", st.wDay, st.wMonth, st.wYear);
        out = buffer;
    }
    if (timePart) {
        if (seconds)
            swprintf(buffer, 96, L"%02u:%02u:%02u", st.wHour, st.wMinute, st.wSecond);
        else
            swprintf(buffer, 96, L"%02u:%02u", st.wHour, st.wMinute);
        if (!out.empty()) out += L' ';
        out += buffer;
    }
    return out;
}

std::string FormatA(RealTime time, int kind, bool date, bool timePart, bool seconds) {
    return Narrow(Format(time, kind, date, timePart, seconds));
}

std::wstring FormatDateTime(RealTime time, int kind) { return Format(time, kind, true, true, true); }

namespace {
// A small cursor over the text for the date-time reader.
struct Cursor {
    const wchar_t* p;
    const wchar_t* end;
    bool AtEnd() const { return p == end; }
    bool Take(wchar_t c) {
        if (p != end && *p == c) return ++p, true;
        return false;
    }
    bool Number(unsigned minDigits, unsigned maxDigits, unsigned& value, unsigned* digits = nullptr) {
        unsigned n = 0;
        value = 0;
        while (p != end && n < maxDigits && *p >= L'0' && *p <= L'9') value = value * 10 + unsigned(*p++ - L'0'), ++n;
        if (digits) *digits = n;
        return n >= minDigits;
    }
    void Blanks() {
        while (p != end && (*p == L' ' || *p == L'\t')) ++p;
    }
};

bool ReadTimeOfDay(Cursor& c, SYSTEMTIME& st) {
    unsigned h, m, s = 0;
    if (!c.Number(1, 2, h) || !c.Take(L':') || !c.Number(2, 2, m)) return false;
    if (c.Take(L':') && !c.Number(2, 2, s)) return false;
    if (h > 23 || m > 59 || s > 59) return false;
    st.wHour = WORD(h), st.wMinute = WORD(m), st.wSecond = WORD(s);
    return true;
}

bool ReadDisplayDate(Cursor& c, int kind, SYSTEMTIME& st) {
    unsigned d, m = 0, y;
    if (kind == 2) {
        if (!c.Number(1, 2, d) || !c.Take(L'.') || !c.Number(1, 2, m) || !c.Take(L'.') || !c.Number(4, 4, y))
            return false;
    } else {
        if (!c.Number(1, 2, d)) return false;
        c.Blanks();
        for (unsigned i = 0; i < 12 && !m; ++i) {
            size_t len = wcslen(kMonthsGenitive[i]);
            if (size_t(c.end - c.p) >= len && wcsncmp(c.p, kMonthsGenitive[i], len) == 0) m = i + 1, c.p += len;
        }
        if (!m) return false;
        c.Blanks();
        if (!c.Number(4, 4, y)) return false;
        c.Blanks();
        if (!c.Take(L'г') || !c.Take(L'.')) return false;
    }
    st.wDay = WORD(d), st.wMonth = WORD(m), st.wYear = WORD(y);
    return true;
}
}  // namespace

bool ScanDateTime(const std::wstring& text, int kind, RealTime& out) {
    std::wstring trimmed = trim(text);
    Cursor c{trimmed.c_str(), trimmed.c_str() + trimmed.size()};
    SYSTEMTIME st{};
    RealTime::Ticks fraction = 0;
    if (kind == 0) {
        unsigned y, mo, d;
        if (!c.Number(4, 4, y) || !c.Take(L'-') || !c.Number(2, 2, mo) || !c.Take(L'-') || !c.Number(2, 2, d))
            return false;
        if (!c.Take(L' ') && !c.Take(L'T')) return false;
        if (!ReadTimeOfDay(c, st)) return false;
        if (c.Take(L'.')) {
            unsigned value, digits;
            if (!c.Number(1, 7, value, &digits)) return false;
            fraction = value;
            for (; digits < 7; ++digits) fraction *= 10;
        }
        st.wYear = WORD(y), st.wMonth = WORD(mo), st.wDay = WORD(d);
    } else if (kind == 1 || kind == 2) {
        Cursor probe = c;
        SYSTEMTIME timeOnly{};
        if (ReadTimeOfDay(probe, timeOnly) && probe.AtEnd()) {
            // A time alone lies on the OLE origin day, so that it is a valid time.
            st = timeOnly;
            st.wYear = 1899, st.wMonth = 12, st.wDay = 30;
            c = probe;
        } else {
            if (!ReadDisplayDate(c, kind, st)) return false;
            c.Blanks();
            if (!c.AtEnd() && !ReadTimeOfDay(c, st)) return false;
        }
    } else {
        return false;
    }
    if (!c.AtEnd()) return false;
    FILETIME ft;
    if (!SystemTimeToFileTime(&st, &ft)) return false;  // no such day
    RealTime result = RealTime::FromFileTime(ft);
    SYSTEMTIME check = result.ToSystemTime();
    if (check.wDay != st.wDay || check.wMonth != st.wMonth) return false;
    out = result + fraction;
    return true;
}

bool ScanDateTime(const std::string& text, int kind, RealTime& out) { return ScanDateTime(Widen(text), kind, out); }
