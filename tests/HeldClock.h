// The system clock as this test program reads it, held at a chosen local time through the
// simulator's clock seam (the program's own clock imports are redirected once).
#pragma once
#include "Framework/RealTime.h"
#include "Host/PluginHost.h"

class HeldClock {
public:
    explicit HeldClock(RealTime local) {
        static const int redirected = (Host::RedirectClock(GetModuleHandleW(nullptr)), 1);
        (void)redirected;
        Set(local);
    }
    ~HeldClock() { Host::Clock::Clear(); }
    HeldClock(const HeldClock&) = delete;
    HeldClock& operator=(const HeldClock&) = delete;

    void Set(RealTime local) {
        now_ = local;
        Host::Clock::Set(local.ToSystemTime(), true);
    }
    RealTime Now() const { return now_; }

private:
    RealTime now_;
};
