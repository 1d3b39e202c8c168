// Where the plugin keeps its configuration, and the two ways of reading a setting.
#pragma once
#include "Framework/Registry.h"
#include "PLLib/HostKeys.h"
#include <string>

namespace Plugin {

// Key paths. The plugin key exists in both trees: the machine tree holds shared settings and
// state, the user tree per-user overrides, running numbers and diagnostic switches.
using PLLib::kCashSettingsKey;
using PLLib::kHostKey;
using PLLib::kHostUIKey;
using PLLib::kHostURLKey;
using PLLib::kPluginKey;
using PLLib::kPrintTemplatesKey;
inline constexpr wchar_t kControlPluginKey[] = L"Software\\Velmor\\Paylantra\\Control Plugins\\Tallymark";
inline constexpr wchar_t kOptionsKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Options";
inline constexpr wchar_t kOptionsAlertEventsKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Options\\Alert Events";
inline constexpr wchar_t kConfigKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Config";
inline constexpr wchar_t kConfigAlertEventsKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Config\\Alert Events";
inline constexpr wchar_t kReportPathsKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Config\\Paths\\Reports";
inline constexpr wchar_t kCollectKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Collect";
// The notes of the last completed collection, stored as a bill counter is.
inline constexpr wchar_t kCollectSummaryKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Collect\\Summary";
inline constexpr wchar_t kBillCountersKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Bill Counters";
inline constexpr wchar_t kCounterLimitsKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Counter Limits";
inline constexpr wchar_t kAlertsKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Alerts";
inline constexpr wchar_t kDebugKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Debug";
inline constexpr wchar_t kDebugCollectKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Debug\\Collect";
inline constexpr wchar_t kDebugReportKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Debug\\Report";
inline constexpr wchar_t kDebugAlertKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Debug\\Alert";
inline constexpr wchar_t kDebugMacroKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Debug\\Macro";

// Names the plugin shares with the host. The stacker overflow is both an alert event and the
// terminal failure that a full stacker sets; the collection request is the failure that blocks the
// terminal until a collection, withdrawn at start and asked for when the stacker goes out.
inline constexpr wchar_t kOverflowEvent[] = L"BillCounterOverflow";
inline constexpr wchar_t kCollectRequest[] = L"Tallymark.Collect.Request";

// One value under `Options`, and what its reader takes when neither tree holds it.
template <class T> struct Option {
    const wchar_t* name;
    T absent;
};

// One key. A null key, a missing value and a value of another type all give the default.
std::wstring ReadSetting(HKEY key, const wchar_t* name, const std::wstring& defaultValue);
std::wstring ReadSetting(HKEY key, const wchar_t* name, const wchar_t* defaultValue);
bool ReadSetting(HKEY key, const wchar_t* name, bool defaultValue);  // a flag: non-zero is on
int ReadSetting(HKEY key, const wchar_t* name, int defaultValue);    // REG_DWORD as signed
inline std::wstring ReadSetting(const RegKey& key, const wchar_t* name, const std::wstring& d) { return ReadSetting(key.Handle(), name, d); }
inline std::wstring ReadSetting(const RegKey& key, const wchar_t* name, const wchar_t* d) { return ReadSetting(key.Handle(), name, d); }
inline bool ReadSetting(const RegKey& key, const wchar_t* name, bool d) { return ReadSetting(key.Handle(), name, d); }
inline int ReadSetting(const RegKey& key, const wchar_t* name, int d) { return ReadSetting(key.Handle(), name, d); }

// The user key over the machine key over the default: each present value replaces the one before.
// Either key may be null (it could not be opened); the other still counts.
std::wstring ReadOption(HKEY user, HKEY machine, const wchar_t* name, const std::wstring& defaultValue);
std::wstring ReadOption(HKEY user, HKEY machine, const wchar_t* name, const wchar_t* defaultValue);
bool ReadOption(HKEY user, HKEY machine, const wchar_t* name, bool defaultValue);
int ReadOption(HKEY user, HKEY machine, const wchar_t* name, int defaultValue);
unsigned ReadOption(HKEY user, HKEY machine, const wchar_t* name, unsigned defaultValue);

// The same subkey of the plugin key in both trees, opened for reading at construction, so that
// every read is fresh: `PluginOptions(kOptionsKey).Read(L"Collect Enabled", false, kSource, __LINE__)`.
class PluginOptions {
public:
    explicit PluginOptions(const wchar_t* keyPath = kOptionsKey)
        : user_(HKEY_CURRENT_USER, keyPath, false, kRegReadAccess),
          machine_(HKEY_LOCAL_MACHINE, keyPath, false, kRegReadAccess) {}
    // The user's value over the machine's over the default. A missing value, or one of another
    // type, gives the default; one that cannot be read raises WindowsError naming `source`:`line`,
    // for a default must not stand in for a setting its owner chose (a collection skipped, an
    // alert dropped, and nothing said).
    std::wstring Read(const wchar_t* name, const std::wstring& defaultValue, const char* source = kConfigSource,
                      int line = 0) const {
        return user_[name].TextOr(machine_[name].TextOr(defaultValue, source, line), source, line);
    }
    std::wstring Read(const wchar_t* name, const wchar_t* defaultValue, const char* source = kConfigSource, int line = 0) const {
        return Read(name, std::wstring(defaultValue ? defaultValue : L""), source, line);
    }
    unsigned Read(const wchar_t* name, unsigned defaultValue, const char* source = kConfigSource, int line = 0) const {
        return user_[name].IntOr(machine_[name].IntOr(defaultValue, source, line), source, line);
    }
    int Read(const wchar_t* name, int defaultValue, const char* source = kConfigSource, int line = 0) const {  // REG_DWORD as signed
        return static_cast<int>(Read(name, static_cast<unsigned>(defaultValue), source, line));
    }
    bool Read(const wchar_t* name, bool defaultValue, const char* source = kConfigSource, int line = 0) const {  // non-zero is on
        return Read(name, defaultValue ? 1u : 0u, source, line) != 0;
    }
    // A named option with its own default for an absent value.
    bool Read(const Option<bool>& option, const char* source, int line) const { return Read(option.name, option.absent, source, line); }
    int Read(const Option<int>& option, const char* source, int line) const { return Read(option.name, option.absent, source, line); }
    unsigned Read(const Option<unsigned>& option, const char* source, int line) const {
        return Read(option.name, option.absent, source, line);
    }
    std::wstring Read(const Option<const wchar_t*>& option, const char* source, int line) const {
        return Read(option.name, option.absent, source, line);
    }
    const RegKey& User() const { return user_; }
    const RegKey& Machine() const { return machine_; }

private:
    static constexpr char kConfigSource[] = "Plugin/Settings/Config";
    RegKey user_, machine_;
};

}  // namespace Plugin
