// HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT of this process redirected to new
// empty keys while it lives, and the keys removed afterwards: a clean registry for a simulator run or
// a test, in which no class registration reaches the real one. The
// scratch keys live in the real user hive under kScratchRoot, one subkey per run named after the
// process that made it, so that a run that crashed is swept by the next one.
#pragma once
#include "Framework/Registry.h"
#include <functional>
#include <string>

inline constexpr wchar_t kScratchRoot[] = L"Software\\TallymarkScratch";

// One predefined hive redirected to a new subkey of `parent` (an ordinary key, which no override
// touches) while it lives.
class HiveOverride {
public:
    HiveOverride(HKEY hive, HKEY parent, const std::wstring& name);  // raises WindowsError
    ~HiveOverride();
    HiveOverride(const HiveOverride&) = delete;
    // The real hive back while `work` runs (for system components that look up their classes).
    void WithRealHive(const std::function<void()>& work);
    HiveOverride& operator=(const HiveOverride&) = delete;

private:
    HKEY hive_;
    RegKey key_;
};

class ScratchRegistry {
public:
    ScratchRegistry();  // raises WindowsError when the keys cannot be made or redirected
    ScratchRegistry(const ScratchRegistry&) = delete;
    ScratchRegistry& operator=(const ScratchRegistry&) = delete;

    ~ScratchRegistry();
    // Whether one lives. Wine's COM reads the machine's classes key directly, past any redirection
    // of HKEY_CLASSES_ROOT, so a class registered here is not found by CoCreateInstance.
    static bool Active();
    // Removes the scratch keys of runs whose process is gone; returns how many.
    static unsigned SweepLeftovers();
    // Runs `work` with the real HKEY_CLASSES_ROOT (WIC, for one, finds its codecs there), or just
    // runs it when no scratch registry lives.
    static void WithRealClasses(const std::function<void()>& work);
    // The key name a run of process `pid` started at `created` (its creation time) uses.
    static std::wstring RunName(DWORD pid, const FILETIME& created, unsigned serial);

private:
    // The run's own key below kScratchRoot, made first and removed last.
    class Run {
    public:
        Run();
        ~Run();
        Run(const Run&) = delete;
        Run& operator=(const Run&) = delete;
        HKEY Handle() const { return key_.Handle(); }

    private:
        std::wstring name_;
        RegKey key_;
    };

    Run run_;
    HiveOverride machine_, user_, classes_;
    ScratchRegistry* outer_;  // the one in force before this
};
