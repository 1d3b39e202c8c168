// The control page's refresh with 10, 100 and 1,000 denominations in the stacker's counter and in the
// previous collection: the time and the registry calls of one refresh, the list filled with a row per
// denomination. Two kinds: the one every note brings (a count goes up, the counter's watch asks for the
// refresh, the list shows the new count: the time runs from the note's write until then), and the one
// that reads everything again (command 533, as the F5 key). The page is the plugin DLL's own, in the
// simulated panel. Run by ./tally bench; prints figures, never passes or fails.
//   PageBench.exe [refreshes per round [rounds]]
#include "Bench.h"
#include "Host/PluginHost.h"
#include "Host/RegistryCalls.h"
#include "Host/Scenario.h"
#include "Framework/ListView.h"
#include "Framework/Registry.h"
#include "Plugin/Settings/Config.h"
#include "Plugin/Page/ControlPage.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

using Host::RegistryCalls;
using Plugin::TallymarkControlPage;

namespace {

struct Figures {
    double msPerRefresh = 1e9;
    RegistryCalls::Counts calls{};
    unsigned refreshes = 0;
    int rows = 0;
};

// Stored denominations 1..count in the counter and the last collection's summary, one note each.
void StoreDenominations(unsigned count) {
    RegKey plugin(HKEY_LOCAL_MACHINE, Plugin::kPluginKey, true, kRegWriteAccess);
    plugin.DeleteSubkey(L"Bill Counters");
    plugin.DeleteSubkey(L"Collect");
    RegKey collect(HKEY_LOCAL_MACHINE, Plugin::kCollectKey, true, kRegWriteAccess);
    collect[L"Number"] = DWORD(1);
    collect[L"timestamp"] = L"2026-12-08 10:00:00.0000000";
    RegKey summary(HKEY_LOCAL_MACHINE, std::wstring(Plugin::kCollectKey) + L"\\Summary\\RUB", true, kRegWriteAccess);
    RegKey counter(HKEY_LOCAL_MACHINE, std::wstring(Plugin::kBillCountersKey) + L"\\Collect\\RUB", true, kRegWriteAccess);
    for (DWORD denomination = 1; denomination <= count; ++denomination) {
        summary[std::to_wstring(denomination)] = DWORD(1);
        counter[std::to_wstring(denomination)] = DWORD(1);
    }
}

// Each refresh comes from `refresh`, and is done once `shown` says so.
template <class Refresh, class Shown>
Figures Refreshes(Host::Scenario& scenario, unsigned refreshes, Refresh refresh, Shown shown) {
    RegistryCalls::Reset();
    Bench::Stopwatch watch;
    for (unsigned i = 0; i < refreshes; ++i) {
        refresh();
        Bench::Stopwatch waiting;
        for (Host::PumpMessages(0); !shown(); Host::PumpMessages(0))
            if (waiting.Ms() > 10000) throw std::runtime_error("the page did not show a note within 10 s");
    }
    Figures figures{watch.Ms() / refreshes, RegistryCalls::Taken(), refreshes, 0};
    figures.rows = ListView(Host::PageControl(scenario, TallymarkControlPage::kNotesList)).RowCount();
    return figures;
}

int Run(unsigned refreshes, unsigned rounds) {
    Host::ScratchHives hives;
    Host::ScratchTemp temp;
    RegKey(HKEY_LOCAL_MACHINE, Plugin::kPluginKey, true, kRegWriteAccess)[L"LogPath"] = temp.Folder() + L"\\Tallymark *.txt";
    OleInitialize(nullptr);
    int status = 0;
    {
        Host::Scenario scenario(Host::DefaultPluginPath());
        scenario.print = [](const std::wstring&) {};
        std::printf("page bench (%s): %u refreshes per round, best of %u rounds\n", Bench::kArch, refreshes, rounds);
        for (unsigned count : {10u, 100u, 1000u}) {
            StoreDenominations(count);
            if (!scenario.RunLine(L"control open")) {
                std::printf("the control page did not open\n");
                status = 1;
                break;
            }
            RegistryCalls::Redirect(GetModuleHandleW(L"Tallymark.dll"));
            auto& page = scenario.Host().Panel().Pages().front();
            ListView list(Host::PageControl(scenario, TallymarkControlPage::kNotesList));
            RegKey counter(HKEY_LOCAL_MACHINE, std::wstring(Plugin::kBillCountersKey) + L"\\Collect\\RUB", false, kRegWriteAccess);
            DWORD notes = 1;
            auto note = [&] { counter[L"1"] = ++notes; };
            auto noteShown = [&] { return list.Cell(0, 1) == std::to_wstring(notes); };
            auto readAll = [&] {
                long result = 0;
                page.page->Command(TallymarkControlPage::kRefresh, 0, &result);
            };
            auto done = [] { return true; };
            for (bool afterNote : {true, false}) {
                Figures best;
                for (unsigned r = 0; r < rounds; ++r) {
                    Figures round = afterNote ? Refreshes(scenario, refreshes, note, noteShown)
                                              : Refreshes(scenario, refreshes, readAll, done);
                    if (round.msPerRefresh < best.msPerRefresh) best = round;
                }
                if (best.rows != int(count)) {
                    std::printf("the list shows %d rows, not %u\n", best.rows, count);
                    status = 1;
                }
                std::printf("page refresh %s, %u denominations (%s): %.3f ms per refresh, %.1f registry calls per refresh (%s)\n",
                            afterNote ? "after a note" : "reading all (F5)", count, Bench::kArch, best.msPerRefresh,
                            double(RegistryCalls::Total(best.calls)) / best.refreshes,
                            RegistryCalls::Describe(best.calls, best.refreshes).c_str());
            }
            scenario.RunLine(L"control close");
        }
    }
    OleUninitialize();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned refreshes = argc > 1 ? unsigned(std::max(1, std::atoi(argv[1]))) : 20;
    const unsigned rounds = argc > 2 ? unsigned(std::max(1, std::atoi(argv[2]))) : 3;
    try {
        return Run(refreshes, rounds);
    } catch (const std::exception& error) {
        std::printf("failed: %s\n", error.what());
    }
    return 1;
}
