#include "Plugin/Counting/DayChange.h"
#include "Plugin/Counting/BillCounters.h"
#include "Framework/Exceptions.h"
#include "Framework/Registry.h"
#include "Plugin/Settings/Config.h"
#include <memory>

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Counting/DayChange";

// Only the thread that made the terminal side touches this, through the host's calls and the timer.
DayChange* g_current = nullptr;

}  // namespace

struct DayChange::Timer {
    UINT_PTR id = 0;
    ~Timer() {
        if (id) KillTimer(nullptr, id);
    }
};

DayChange::~DayChange() {
    // A newer terminal side may have taken over the timer's attention.
    if (g_current == this) g_current = nullptr;
    delete timer_.exchange(nullptr);
}

void DayChange::LoadToday() {
    RegKey user(HKEY_CURRENT_USER, kPluginKey, false, kRegReadAccess);
    RealTime today;
    if (ScanDateTime(user[L"Today"].TextOr(L"", kSource, __LINE__), 0, today)) today_ = today;
}

void DayChange::Start() {
    g_current = this;
    // Unread, the period must not fall back to a default: the timer would tick at a pace nobody chose.
    RegKey config(HKEY_LOCAL_MACHINE, kConfigKey, false, kRegReadAccess);
    const UINT period = UINT(config[L"HeartBeat Timeout"].IntOr(1000, kSource, __LINE__));
    auto timer = std::make_unique<Timer>();
    timer->id = SetTimer(nullptr, 0, period, &DayChange::TimerProc);
    CHECK_WIN32(timer->id != 0, kSource);
    delete timer_.exchange(timer.release());
}

DayChange* DayChange::Current() { return g_current; }

void CALLBACK DayChange::TimerProc(HWND, UINT, UINT_PTR, DWORD) noexcept {
    if (DayChange* current = Current()) current->TryTick();
}

void DayChange::TryTick() noexcept {
    std::wstring failure;
    try {
        Tick();
        failure_.clear();
        return;
    } catch (...) {
        failure = ReasonOf(std::current_exception()).value_or(L"неизвестная ошибка");
    }
    // A failure that persists is recorded once, not at every tick.
    if (failure == failure_) return;
    failure_ = failure;
    try {
        log_.Write(LogEvent::CallbackError, L"не удалось сменить текущую дату: " + failure);
    } catch (...) {
        OutputDebugStringW((L"Tallymark day change: " + failure).c_str());
    }
}

void DayChange::Tick() {
    RealTime today = log_.Now().Date();
    if (today == today_) return;
    // The new day counts only once the change went through, so a failed one is tried again. A reset
    // of the day's counter that went through before the failure is not redone: it would wipe the
    // notes counted since.
    if (CounterStore::ReadResetInfo(ReportSteps::NextDay.resetFirst).time.Date() != today)
        periods_.ReportWithReset(ReportSteps::NextDay);
    RegKey::OpenToWrite(HKEY_CURRENT_USER, kPluginKey, kSource, __LINE__)[L"Today"] = Format(today, 0);
    today_ = today;
    log_.Roll(today_);
}

}  // namespace Plugin
