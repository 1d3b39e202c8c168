// Fault injection from outside the plugin: its imports of the registry and file calls are replaced
// by wrappers that count every call and fail the chosen one, and the host objects fail the chosen
// call of a host method. A run of the simulator with a fault reports what it saw, and the driver
// runs a scenario once per failure point and judges each run against a fault-free one.
#pragma once
#include <windows.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace Host {

class Terminal;

namespace Faults {

// One failure point: a call by its name ("RegQueryValueExW", or "Session.GetProperty" for a host
// method) at its k-th occurrence in the run (from 1).
struct Point {
    std::wstring call;
    int occurrence = 0;
    std::wstring Text() const;                       // "RegQueryValueExW#12"
    static bool Parse(const std::wstring& text, Point& point);
};

// Every registry and file call the wrappers stand in for; host methods are those of IsHostMethod.
const std::vector<std::wstring>& SystemCalls();
// Whether the call is one of those or a host method.
bool CanFail(const std::wstring& call);

// Replaces the module's imports of SystemCalls() with the counting wrappers.
void Instrument(HMODULE module);
// Makes the one call fail: a system call through the wrappers, a host method through the terminal.
// The occurrence counts from the start of the run, or with `fromNow` from the calls made so far;
// with `on`, only the system calls that name that key, value or file (in full or its last part).
// With `persist`, that call and every later one of its kind fail: a registry or disk gone for good.
void Arm(Terminal& terminal, const Point& fail, bool fromNow, const std::wstring& on = {}, bool persist = false);
// Calls made so far, by name; whether the chosen call was reached and failed.
std::map<std::wstring, int> SystemCallCounts();
bool SystemFaultFired();
std::wstring SystemFaultTarget();

// What one run left, as the driver compares it. Written by the simulator as "key<TAB>value" lines.
struct Outcome {
    bool fired = false;
    std::wstring target;                      // the key, value or file the failed call named
    std::map<std::wstring, int> calls;        // registry, file and host calls made, by name
    std::map<std::wstring, std::wstring> counters;  // "Counter\CUR\DEN" -> count, "Counter Reset" -> number
    std::vector<std::wstring> logCodes;       // the codes of the operation log's records, in order
    std::vector<std::wstring> hostState;      // navigations, events raised, failures switched, mails
    int errorRecords = 0;                     // log records whose code names an error
    int hostErrors = 0;                       // failures the plugin answered to the host
    int refusedNotes = 0;                     // notes the host saw refused (see Terminal::refusedNotes)
    int boxes = 0;
    bool attachFailed = false;                // the host was told the plugin could not attach
};

// Gathers what the host saw: its calls, the failures answered to it, boxes, navigations, events
// raised, failures switched and mails.
void GatherHost(const Terminal& terminal, Outcome& outcome);
// Gathers the registry and log parts of the outcome (the process's scratch registry still live).
void GatherStore(Outcome& outcome);
std::wstring Serialize(const Outcome& outcome);
Outcome Deserialize(const std::wstring& text);

struct MatrixOptions {
    int sample = 0;          // that many points spread over all; 0: all
    int jobs = 1;            // runs at a time
    int timeoutSeconds = 0;  // 0: five times the counting run, at least three minutes (beyond any scenario's wait)
    // Only the points numbered first..last (from 1) of the chosen ones: a matrix too long for one
    // sitting runs in parts, and the parts' lines together are the whole.
    size_t first = 1, last = SIZE_MAX;
    // These points instead of sample and range: the ones a former matrix found wrong, run again.
    std::vector<Point> points;
    // Each point's call fails from that point on, not once.
    bool persist = false;
};

// The driver: runs `scenario` once to count the calls, then once per chosen failure point. Prints
// a line per point and the totals; 0 when every run survived with exact counts and a shown or
// harmless failure.
int RunMatrix(const std::wstring& self, const std::wstring& plugin, const std::wstring& scenario,
              const MatrixOptions& options, const std::function<void(const std::wstring&)>& print);

}  // namespace Faults
}  // namespace Host
