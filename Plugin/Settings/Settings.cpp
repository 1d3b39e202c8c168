#include "Plugin/Settings/Settings.h"
#include "Framework/Exceptions.h"
#include "Plugin/Plugin.h"
#include <optional>

namespace Plugin {

namespace {

const char kSource[] = "Plugin/Settings/Settings";

enum class LimitAction { Notice, Failure, Blocking };

// The entries that the stacker limit stands for, in the order they are read and written; "[*]" is
// the plugin's currency.
struct LimitEntrySpec {
    const wchar_t* name;
    bool sum;  // the amount of the plugin's currency, else the number of notes
    LimitAction action;
};
constexpr LimitEntrySpec kLimitEntries[] = {
    {L"control.count.notify", false, LimitAction::Notice},
    {L"control.count.failure", false, LimitAction::Failure},
    {L"control.count.hardFailure", false, LimitAction::Blocking},
    {L"control.total[*].notify", true, LimitAction::Notice},
    {L"control.total[*].failure", true, LimitAction::Failure},
    {L"control.total[*].hardFailure", true, LimitAction::Blocking},
};

std::wstring EntryName(const LimitEntrySpec& shape) { return shape.sum ? SubstituteCurrency(shape.name) : shape.name; }

std::wstring EntryPath(const std::wstring& name) { return std::wstring(kCounterLimitsKey) + L"\\" + name; }

const wchar_t* FailureOf(LimitAction action) { return action == LimitAction::Failure ? kOverflowEvent : kCollectRequest; }

bool StackerLimit::*ActionField(LimitAction action) {
    switch (action) {
    case LimitAction::Notice: return &StackerLimit::notice;
    case LimitAction::Failure: return &StackerLimit::failure;
    case LimitAction::Blocking: break;
    }
    return &StackerLimit::blocking;
}

// The entry `shape` makes under `name`, when the limit has both its kind and its action.
std::optional<StackerLimit::Entry> MakeEntry(const StackerLimit& limit, const LimitEntrySpec& shape, std::wstring name) {
    if (!(shape.sum ? limit.sumLimited : limit.countLimited) || !(limit.*ActionField(shape.action))) return std::nullopt;
    StackerLimit::Entry entry{std::move(name), {}, shape.sum ? limit.sumLimit : limit.countLimit, L"set failure", L"reset failure",
                              FailureOf(shape.action)};
    // The published value the entry watches: the notes, or the amount of the plugin's currency.
    entry.prop = shape.sum ? SubstituteCurrency(L"Tallymark.BillCounter.Collect.[*].All.Total")
                          : L"Tallymark.BillCounter.Collect.All.All.Count";
    if (shape.action == LimitAction::Notice) {
        entry.setValue = L"set alert";
        entry.resetValue = L"reset alert";
        entry.target = kLimitAlert;
    }
    return entry;
}

DWORD Flag(bool on) { return on ? 1 : 0; }

}  // namespace

void CollectionSettings::Read(const PluginOptions& options) {
    // Strict reads: a setting shown as its default would be written back as such.
    for (const auto& [option, field] : {std::pair{Options::kCollectEnabled, &CollectionSettings::enabled},
                                        {Options::kAutoNavigate, &CollectionSettings::autoNavigate},
                                        {Options::kResetCounter, &CollectionSettings::resetCounter},
                                        {Options::kPrintReceipt, &CollectionSettings::printReceipt},
                                        {Options::kCompleteOnStacker, &CollectionSettings::completeOnStacker},
                                        {Options::kCancelEnabled, &CollectionSettings::cancelAllowed}})
        this->*field = options.Read(option.name, this->*field, kSource, __LINE__);
    std::wstring report = options.Read(Options::kFiscalReport.name, zReport ? L"Z" : xReport ? L"X" : L"", kSource, __LINE__);
    xReport = EqualNoCase(report, L"X");
    zReport = EqualNoCase(report, L"Z");
    unsigned fixed = options.Read(Options::kControlDisabled.name, ControlDisabled(), kSource, __LINE__);
    collectorChooses = {!(fixed & kChooseReset), !(fixed & kChooseReceipt), !(fixed & kChooseXReport), !(fixed & kChooseZReport)};
    receiptCopies = options.Read(Options::kReceiptCount.name, receiptCopies, kSource, __LINE__);
}

unsigned CollectionSettings::ControlDisabled() const {
    return (collectorChooses.reset ? 0 : kChooseReset) | (collectorChooses.receipt ? 0 : kChooseReceipt) |
           (collectorChooses.xReport ? 0 : kChooseXReport) | (collectorChooses.zReport ? 0 : kChooseZReport);
}

void CollectionSettings::Write() const {
    RegKey options = RegKey::OpenToWrite(HKEY_CURRENT_USER, kOptionsKey, kSource, __LINE__);
    options[Options::kCollectEnabled.name] = Flag(enabled);
    options[Options::kAutoNavigate.name] = Flag(autoNavigate);
    options[Options::kResetCounter.name] = Flag(resetCounter);
    options[Options::kReceiptCount.name] = DWORD(receiptCopies);
    options[Options::kPrintReceipt.name] = Flag(printReceipt);
    RegKey::Value report = options[Options::kFiscalReport.name];
    if (zReport)
        report = L"Z";
    else if (xReport)
        report = L"X";
    else
        report.Delete();
    const unsigned actions = kChooseReset | kChooseReceipt | kChooseXReport | kChooseZReport;
    RegKey::Value fixed = options[Options::kControlDisabled.name];
    fixed = (fixed.IntOr(0, kSource, __LINE__) & ~actions) | ControlDisabled();
    options[Options::kCompleteOnStacker.name] = Flag(completeOnStacker);
    options[Options::kCancelEnabled.name] = Flag(cancelAllowed);
}

std::vector<std::pair<const wchar_t*, DWORD>> CollectionSettings::Seed() const {
    return {{Options::kCollectEnabled.name, Flag(enabled)},     {Options::kAutoNavigate.name, Flag(autoNavigate)},
            {Options::kControlDisabled.name, ControlDisabled()}, {Options::kPrintReceipt.name, Flag(printReceipt)},
            {Options::kReceiptCount.name, receiptCopies},         {Options::kResetCounter.name, Flag(resetCounter)},
            {Options::kCancelEnabled.name, Flag(cancelAllowed)}};
}

AlertEventSet InstalledAlertEvents() {
    AlertEventSet events;
    for (const AlertEvent& event : kAlertEvents)
        if (event.installed) events.insert(event.name);
    return events;
}

// Strict: an alert lost to a registry error must not look like one that was switched off.
bool AlertEventOn(const std::wstring& event) {
    return PluginOptions(kOptionsAlertEventsKey).Read(event.c_str(), false, kSource, __LINE__);
}

AlertEventSet ReadAlertEvents() {
    PluginOptions options(kOptionsAlertEventsKey);
    AlertEventSet events;
    for (const AlertEvent& event : kAlertEvents)
        if (options.Read(event.name, false, kSource, __LINE__)) events.insert(event.name);
    return events;
}

void WriteAlertEvents(const AlertEventSet& events) {
    RegKey options = RegKey::OpenToWrite(HKEY_CURRENT_USER, kOptionsAlertEventsKey, kSource, __LINE__);
    for (const AlertEvent& event : kAlertEvents) options[event.name] = Flag(events.count(event.name) != 0);
}

StackerLimit StackerLimit::Installed() {
    StackerLimit limit;
    limit.countLimited = true;
    limit.countLimit = 1500;
    limit.notice = limit.failure = true;
    return limit;
}

// An entry read in part would show a limit its owner did not set: every read here is strict.
StackerLimit StackerLimit::Read(bool overflowAlertOn) {
    StackerLimit limit;
    RegKey mapping = RegKey::OpenToRead(HKEY_LOCAL_MACHINE, kConfigAlertEventsKey, kSource, __LINE__);
    const std::wstring overflowAlert = mapping[kOverflowEvent].TextOr(kOverflowEvent, kSource, __LINE__);
    for (const LimitEntrySpec& shape : kLimitEntries) {
        RegKey key = RegKey::OpenToRead(HKEY_LOCAL_MACHINE, EntryPath(EntryName(shape)), kSource, __LINE__);
        unsigned max = key[L"max"].IntOr(0, kSource, __LINE__);
        if (max != 0) {
            bool& limited = shape.sum ? limit.sumLimited : limit.countLimited;
            unsigned& value = shape.sum ? limit.sumLimit : limit.countLimit;
            if (!limited || max < value) value = max;
            limited = true;
        }
        bool action = false;
        if (shape.action == LimitAction::Notice) {
            std::wstring alert = key[L"set alert"].TextOr(L"", kSource, __LINE__);
            action = !alert.empty() && overflowAlertOn && EqualNoCase(overflowAlert, alert);
        } else {
            action = EqualNoCase(key[L"set failure"].TextOr(L"", kSource, __LINE__), FailureOf(shape.action));
        }
        if (action) limit.*ActionField(shape.action) = true;
    }
    return limit;
}

std::vector<StackerLimit::Entry> StackerLimit::Entries() const {
    std::vector<Entry> entries;
    for (const LimitEntrySpec& shape : kLimitEntries)
        if (auto entry = MakeEntry(*this, shape, EntryName(shape))) entries.push_back(std::move(*entry));
    return entries;
}

void StackerLimit::Write() const {
    RegKey limits = RegKey::OpenToWrite(HKEY_LOCAL_MACHINE, kCounterLimitsKey, kSource, __LINE__);
    for (const LimitEntrySpec& shape : kLimitEntries) {
        const std::wstring name = EntryName(shape);
        limits.DeleteSubkey(name);
        auto entry = MakeEntry(*this, shape, name);
        if (!entry) continue;
        RegKey key = RegKey::OpenToWrite(limits.Handle(), name, kSource, __LINE__);
        entry->Values([&](const wchar_t* value, const auto& data) { key[value] = data; });
    }
    if (notice) RegKey::OpenToWrite(HKEY_LOCAL_MACHINE, kConfigAlertEventsKey, kSource, __LINE__)[kOverflowEvent] = kLimitAlert;
}

DWORD NextRunningNumber(const wchar_t* name) {
    return RegKey::OpenToWrite(HKEY_CURRENT_USER, kPluginKey, kSource, __LINE__)[name].Increment(kSource, __LINE__);
}

}  // namespace Plugin
