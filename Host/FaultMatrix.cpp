// The fault driver: a counting run, then one run of the scenario per failure point, each in a
// process of its own with a fresh registry, judged against the counting run.
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Framework/Text.h"
#include "Host/Faults.h"
#include "Host/Process.h"
#include "Host/Scenario.h"
#include <algorithm>
#include <memory>
#include <optional>
#include <set>

namespace Host {
namespace Faults {

namespace {

// How one run went.
struct Verdict {
    bool crashed = false, hung = false, reached = true, visible = false, absorbed = false, exact = false;
    std::wstring text;
};

std::wstring Hex(DWORD code) { return FormatBufferW(16, L"0x%08lX", static_cast<unsigned long>(code)); }

std::wstring CounterOf(const std::wstring& key) { return key.substr(0, key.find_first_of(L"\\ ")); }

bool IsResetKey(const std::wstring& key) { return key.size() > 6 && key.compare(key.size() - 6, 6, L" Reset") == 0; }

// The counters against the fault-free run. A counter whose reset went otherwise (a failed reset, a
// collection that never opened) is not compared when the failure was shown. Apart from that, one
// note may be missing, from any of the counters, when the failure was shown; with a failure that
// persists, as many notes as the host saw refused (at least that one). Nothing may be more.
bool CountsExact(const Outcome& base, const Outcome& run, bool visible, bool persist, std::wstring& detail) {
    std::set<std::wstring> keys, resetMoved;
    for (const auto* outcome : {&base, &run})
        for (const auto& [key, value] : outcome->counters) keys.insert(key);
    auto valueOf = [](const Outcome& outcome, const std::wstring& key) {
        auto found = outcome.counters.find(key);
        return found == outcome.counters.end() ? 0LL : _wtoi64(found->second.c_str());
    };
    for (const std::wstring& key : keys)
        if (IsResetKey(key) && valueOf(base, key) != valueOf(run, key)) resetMoved.insert(CounterOf(key));
    const long long refused = std::max(1, run.refusedNotes - base.refusedNotes);
    std::set<std::wstring> missingNotes;
    std::map<std::wstring, long long> missingOf;  // by counter
    bool exact = true;
    for (const std::wstring& key : keys) {
        if (IsResetKey(key)) continue;
        long long diff = valueOf(run, key) - valueOf(base, key);
        if (diff == 0) continue;
        detail += L" " + key + (diff > 0 ? L" +" : L" ") + std::to_wstring(diff);
        if (visible && resetMoved.count(CounterOf(key))) continue;
        if (diff < 0 && visible && persist) missingOf[CounterOf(key)] -= diff;
        else if (diff == -1 && visible) missingNotes.insert(key.substr(key.find(L'\\')));
        else exact = false;
    }
    for (const auto& [counter, missing] : missingOf)
        if (missing > refused) {
            detail += L" (" + counter + L": " + std::to_wstring(missing) + L" missing, " + std::to_wstring(refused) + L" refused)";
            exact = false;
        }
    if (!resetMoved.empty()) {
        detail += L" (reset otherwise:";
        for (const std::wstring& counter : resetMoved) detail += L" " + counter;
        detail += L")";
    }
    return exact && missingNotes.size() <= 1;
}

Verdict Judge(const Outcome& base, const Outcome& run, bool persist) {
    Verdict verdict;
    verdict.reached = run.fired;
    if (!run.fired) {
        verdict.text = L"not reached";
        return verdict;
    }
    std::wstring shown;
    if (run.errorRecords > base.errorRecords) shown += L", error record";
    if (run.hostErrors > base.hostErrors) shown += L", error answered";
    if (run.boxes > base.boxes) shown += L", box";
    verdict.visible = !shown.empty();
    verdict.absorbed = run.counters == base.counters && run.logCodes == base.logCodes && run.hostState == base.hostState;
    std::wstring detail;
    verdict.exact = CountsExact(base, run, verdict.visible, persist, detail);
    // A plugin the host was told could not attach counts nothing that day, by design and in the open.
    if (!verdict.exact && run.attachFailed && !base.attachFailed) {
        verdict.exact = true;
        detail = L" (not attached: nothing counted)";
    }
    verdict.text = L"survived, " +
                   (verdict.visible ? L"visible (" + shown.substr(2) + L")"
                                    : verdict.absorbed ? std::wstring(L"no effect") : std::wstring(L"SILENT")) +
                   (verdict.exact ? L", counts exact" : L", COUNTS WRONG") + detail;
    if (!verdict.visible && !verdict.absorbed) {
        if (run.logCodes != base.logCodes) verdict.text += L" (log records differ)";
        if (run.hostState != base.hostState) verdict.text += L" (what the host saw differs)";
    }
    // Where a failure went unseen, what it was made on points at the code to mend.
    if ((!verdict.visible && !verdict.absorbed) || !verdict.exact)
        if (!run.target.empty()) verdict.text += L" [" + run.target + L"]";
    return verdict;
}

// Every point of the counting run, in the order of call names; with `sample`, that many at most:
// one of each call first, then evenly spread over the rest.
std::vector<Point> SelectPoints(const std::map<std::wstring, int>& calls, int sample) {
    std::vector<Point> all;
    for (const auto& [call, count] : calls)
        for (int k = 1; k <= count; ++k) all.push_back({call, k});
    if (sample <= 0 || size_t(sample) >= all.size()) return all;
    std::set<size_t> chosen;
    size_t first = 0;
    for (const auto& [call, count] : calls) {
        if (chosen.size() < size_t(sample)) chosen.insert(first + size_t(count) / 2);
        first += size_t(count);
    }
    size_t left = size_t(sample) - chosen.size();
    for (size_t i = 0; i < left; ++i) {
        size_t index = (2 * i + 1) * all.size() / (2 * left);
        while (chosen.count(index)) index = (index + 1) % all.size();
        chosen.insert(index);
    }
    std::vector<Point> points;
    for (size_t index : chosen) points.push_back(all[index]);
    return points;
}

struct Run {
    Point point;
    std::wstring report, outbox;
    std::unique_ptr<ChildProcess> process;
    ULONGLONG started = 0;
};

std::unique_ptr<Run> Launch(const std::wstring& self, const std::wstring& plugin, const std::wstring& scenario,
                            const std::wstring& folder, size_t index, const std::optional<Point>& point, bool persist) {
    auto run = std::make_unique<Run>();
    if (point) run->point = *point;
    run->report = folder + L"\\report-" + std::to_wstring(index) + L".txt";
    run->outbox = folder + L"\\outbox-" + std::to_wstring(index);
    std::vector<std::wstring> args = {L"--fresh", L"--plugin", plugin, L"--outbox", run->outbox, L"--fault-report", run->report};
    if (point) args.insert(args.end(), {L"--fault", point->Text()});
    if (point && persist) args.push_back(L"--persist");
    args.push_back(scenario);
    // Wine now and then fails to start a process under load (ERROR_INTERNAL_ERROR); that says
    // nothing of the plugin, so the start is tried again before the point is given up.
    for (int attempt = 1;; ++attempt) {
        try {
            run->started = GetTickCount64();
            run->process = std::make_unique<ChildProcess>(self, args, true);
            return run;
        } catch (const WindowsError&) {
            if (attempt == 3) throw;
            Sleep(2000);
        }
    }
}

// Waits for the run; its outcome, or none when it crashed or hung (told in `verdict`).
std::optional<Outcome> Finish(Run& run, DWORD timeout, Verdict& verdict) {
    ULONGLONG spent = GetTickCount64() - run.started;
    bool ended = run.process->Wait(spent >= timeout ? 0 : DWORD(timeout - spent));
    DWORD code = run.process->ExitCode();
    run.process.reset();
    std::optional<Outcome> outcome;
    if (!ended) {
        verdict.hung = true;
        verdict.text = L"HUNG, ended after " + std::to_wstring(timeout / 1000) + L" s";
    } else if ((code != 0 && code != 1) || !FileExists(run.report)) {
        verdict.crashed = true;
        verdict.text = L"CRASHED, exit code " + Hex(code);
    } else {
        outcome = Deserialize(ReadUtf8File(run.report));
    }
    DeleteFileW(run.report.c_str());
    RemoveTree(run.outbox);
    return outcome;
}

}  // namespace

int RunMatrix(const std::wstring& self, const std::wstring& plugin, const std::wstring& scenario,
              const MatrixOptions& options, const std::function<void(const std::wstring&)>& print) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"TallyFaults-" + std::to_wstring(GetCurrentProcessId());
    CreatePath(folder);
    struct Cleanup {
        std::wstring folder;
        ~Cleanup() { RemoveTree(folder); }
    } cleanup{folder};

    print(L"faults: counting run of " + scenario);
    Verdict baseVerdict;
    auto counting = Launch(self, plugin, scenario, folder, 0, std::nullopt, false);
    std::optional<Outcome> base = Finish(*counting, 600000, baseVerdict);
    if (!base) {
        print(L"faults: the counting run failed: " + baseVerdict.text);
        return 1;
    }
    ULONGLONG baseMs = GetTickCount64() - counting->started;
    DWORD timeout = options.timeoutSeconds > 0 ? DWORD(options.timeoutSeconds) * 1000
                                               : DWORD(std::max<ULONGLONG>(180000, baseMs * 5));
    int total = 0;
    std::wstring counts;
    for (const auto& [call, count] : base->calls) {
        total += count;
        counts += L" " + call + L" " + std::to_wstring(count);
    }
    print(L"faults: " + std::to_wstring(total) + L" calls in " + std::to_wstring(baseMs) + L" ms:" + counts);
    std::vector<Point> points = options.points.empty() ? SelectPoints(base->calls, options.sample) : options.points;
    const size_t chosen = points.size();
    const size_t first = std::max<size_t>(options.first, 1), last = std::min(options.last, chosen);
    points = first <= last ? std::vector<Point>(points.begin() + long(first - 1), points.begin() + long(last))
                           : std::vector<Point>();
    print(L"faults: " + std::to_wstring(chosen) + L" failure points" +
          (!options.points.empty() ? L", as named"
           : chosen < size_t(total) ? L", a sample of " + std::to_wstring(total) : std::wstring()) +
          (points.size() < chosen ? L"; this part runs numbers " + std::to_wstring(first) + L" to " +
                                        std::to_wstring(first + points.size() - 1)
                                  : std::wstring()) +
          (options.persist ? L"; each call fails from its point on" : L""));

    int injected = 0, survived = 0, crashed = 0, hung = 0, exact = 0, visible = 0, absorbed = 0, silent = 0, unreached = 0,
        notRun = 0;
    std::vector<std::unique_ptr<Run>> running;
    size_t next = 0;
    std::vector<std::optional<std::wstring>> lines(points.size());
    size_t printed = 0;
    const int jobs = std::max(1, options.jobs);
    while (next < points.size() || !running.empty()) {
        while (next < points.size() && running.size() < size_t(jobs)) {
            try {
                running.push_back(Launch(self, plugin, scenario, folder, next + 1, points[next], options.persist));
            } catch (const WindowsError& error) {
                lines[next] = points[next].Text() + L": NOT RUN, its process did not start: " + error.ReasonW();
                ++notRun;
            }
            ++next;
        }
        std::vector<HANDLE> handles;
        for (auto& run : running) handles.push_back(run->process->Handle());
        WaitForMultipleObjects(DWORD(handles.size()), handles.data(), FALSE, 1000);
        for (size_t i = 0; i < running.size();) {
            Run& run = *running[i];
            bool ended = WaitForSingleObject(run.process->Handle(), 0) == WAIT_OBJECT_0;
            if (!ended && GetTickCount64() - run.started < timeout) {
                ++i;
                continue;
            }
            Verdict verdict;
            std::optional<Outcome> outcome = Finish(run, timeout, verdict);
            if (outcome) verdict = Judge(*base, *outcome, options.persist);
            if (verdict.reached) ++injected;
            if (verdict.crashed) ++crashed;
            if (verdict.hung) ++hung;
            if (outcome && verdict.reached) {
                ++survived;
                exact += verdict.exact;
                visible += verdict.visible;
                absorbed += !verdict.visible && verdict.absorbed;
                silent += !verdict.visible && !verdict.absorbed;
            }
            unreached += !verdict.reached;
            size_t index = size_t(std::find_if(points.begin(), points.end(),
                                               [&](const Point& p) { return p.call == run.point.call && p.occurrence == run.point.occurrence; }) -
                                  points.begin());
            lines[index] = run.point.Text() + L": " + verdict.text;
            running.erase(running.begin() + long(i));
        }
        while (printed < lines.size() && lines[printed]) print(*lines[printed++]);
    }
    print(L"faults: " + std::to_wstring(visible) + L" shown, " + std::to_wstring(absorbed) + L" without effect, " +
          std::to_wstring(silent) + L" silent, " + std::to_wstring(unreached) + L" not reached" +
          (notRun ? L", " + std::to_wstring(notRun) + L" NOT RUN (their processes did not start)" : std::wstring()));
    print(L"faults: " + std::to_wstring(injected) + L" injected, " + std::to_wstring(survived) + L" survived, " +
          std::to_wstring(crashed) + L" crashed, " + std::to_wstring(hung) + L" hung, counts exact in " +
          std::to_wstring(exact));
    return crashed == 0 && hung == 0 && exact == survived && silent == 0 && notRun == 0 ? 0 : 1;
}

}  // namespace Faults
}  // namespace Host
