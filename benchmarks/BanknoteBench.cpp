// One banknote through the plugin's real path (the cash-session sink, the eight counters, the
// CASH.ACCEPT record, the limit check) against its floor: the same eight increments done bare
// (a root create, then per counter a create, a query, a set and a close), in the same run. The
// plugin DLL is loaded as the terminal loads it; its registry imports, and this program's, are
// redirected to count the calls. Run by ./tally bench; prints figures, never passes or fails.
//   BanknoteBench.exe [notes per round [rounds [notes per turn]]]
#include "Bench.h"
#include "Host/HostObjects.h"
#include "Host/PluginHost.h"
#include "Host/RegistryCalls.h"
#include "Plugin/Settings/Config.h"
#include "Framework/Exceptions.h"
#include "Framework/Registry.h"
#include "Framework/Text.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using Host::RegistryCalls;

namespace {

const wchar_t kCurrency[] = L"RUB";
const wchar_t* const kCounters[] = {L"App", L"Collect", L"Payment", L"Session", L"Stacker", L"Terminal", L"Today", L"ZReport"};
// Beside the plugin's counters, at the same depth, so that the floor's writes are not theirs.
const wchar_t kFloorKey[] = L"Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Bench Floor";

struct Figures {
    double ms = 0;
    RegistryCalls::Counts calls{};
    unsigned notes = 0;
    double MsPerNote() const { return ms / notes; }
    double CallsPerNote() const { return double(RegistryCalls::Total(calls)) / notes; }
    void Add(const Figures& more) {
        ms += more.ms;
        for (size_t kind = 0; kind < calls.size(); ++kind) calls[kind] += more.calls[kind];
        notes += more.notes;
    }
};

// `notes` notes of the denominations in turn, from the `first`-th on.
Figures Notes(Host::CashSession& session, const std::vector<uint32_t>& denominations, unsigned notes, unsigned first = 0) {
    RegistryCalls::Reset();
    Bench::Stopwatch watch;
    for (unsigned i = first; i < first + notes; ++i) session.Accept(long(denominations[i % denominations.size()]), kCurrency);
    return {watch.Ms(), RegistryCalls::Taken(), notes};
}

Figures Floor(const std::vector<uint32_t>& denominations, unsigned notes, unsigned first = 0) {
    RegistryCalls::Reset();
    Bench::Stopwatch watch;
    for (unsigned i = first; i < first + notes; ++i) {
        const std::wstring value = std::to_wstring(denominations[i % denominations.size()]);
        HKEY root = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kFloorKey, 0, nullptr, 0, kRegWriteAccess, nullptr, &root, nullptr)) continue;
        for (const wchar_t* counter : kCounters) {
            HKEY key = nullptr;
            const std::wstring path = std::wstring(counter) + L"\\" + kCurrency;
            if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, kRegWriteAccess, nullptr, &key, nullptr)) continue;
            DWORD count = 0, size = sizeof count;
            if (RegQueryValueExW(key, value.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size)) count = 0;
            ++count;
            RegSetValueExW(key, value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof count);
            RegCloseKey(key);
        }
        RegCloseKey(root);
    }
    return {watch.Ms(), RegistryCalls::Taken(), notes};
}

// A round: the floor and the path take turns in blocks of notes, so that a change in the machine's
// load falls on both alike. Their ratio then holds still where each time alone moves.
struct Round {
    Figures note, floor;
};

Round Interleaved(Host::CashSession& session, const std::vector<uint32_t>& denominations, unsigned notes, unsigned block) {
    Round round;
    for (unsigned done = 0; done < notes; done += block) {
        const unsigned count = std::min(block, notes - done);
        round.floor.Add(Floor(denominations, count, done));
        round.note.Add(Notes(session, denominations, count, done));
    }
    return round;
}

// The median time per note of the rounds, with the calls of the first (each round makes the same).
Figures MedianFigures(const std::vector<Figures>& rounds) {
    std::vector<double> ms;
    for (const Figures& round : rounds) ms.push_back(round.MsPerNote());
    Figures median = rounds.front();
    median.ms = Bench::MedianOf(ms).value * median.notes;
    return median;
}

void Print(const char* what, size_t stored, const Figures& f) {
    std::printf("%s (%s): %zu denominations stored, %.3f ms per note, %.1f registry calls per note (%s)\n", what,
                Bench::kArch, stored, f.MsPerNote(), f.CallsPerNote(), RegistryCalls::Describe(f.calls, f.notes).c_str());
}

int Run(unsigned notes, unsigned rounds, unsigned block) {
    Host::ScratchHives hives;
    Host::ScratchTemp temp;
    RegKey(HKEY_LOCAL_MACHINE, Plugin::kPluginKey, true, kRegWriteAccess)[L"LogPath"] = temp.Folder() + L"\\Tallymark *.txt";
    OleInitialize(nullptr);
    int status = 0;
    {
        Host::PluginModule module;
        module.Load(Host::DefaultPluginPath());
        RegistryCalls::Redirect(module.Handle());
        RegistryCalls::Redirect(GetModuleHandleW(nullptr));
        Host::Terminal terminal;
        co<IPaylantraPlugin> plugin = module.CreatePlugin();
        if (FAILED(plugin->Attach(terminal.Object()))) {
            std::printf("the plugin did not attach\n");
            status = 1;
        } else {
            terminal.NotifyStart();
            Host::CashSession& session = terminal.BeginCashSession();
            std::vector<uint32_t> stored = {10, 50, 100, 500, 1000, 5000};
            const std::vector<uint32_t> more = {1, 2, 5, 20, 200, 2000, 3, 25, 250, 2500};
            for (uint32_t d : stored) session.Accept(long(d), kCurrency);  // every counter holds all six

            // A first round warms up what the others measure; its figures are dropped.
            Interleaved(session, stored, notes, block);
            std::vector<Figures> note6, floor6, note16;
            std::vector<double> ratios;
            for (unsigned r = 0; r < rounds; ++r) {
                const Round round = Interleaved(session, stored, notes, block);
                note6.push_back(round.note);
                floor6.push_back(round.floor);
                ratios.push_back(round.note.ms / round.floor.ms);
            }
            const size_t few = stored.size();
            for (uint32_t d : more) session.Accept(long(d), kCurrency);
            stored.insert(stored.end(), more.begin(), more.end());
            for (unsigned r = 0; r < rounds; ++r) note16.push_back(Notes(session, {10, 50, 100, 500, 1000, 5000}, notes));

            std::printf("banknote bench (%s): %u notes per round, path and floor taking turns of %u note%s; medians of %u rounds\n",
                        Bench::kArch, notes, block, block == 1 ? "" : "s", rounds);
            const Figures path = MedianFigures(note6), bare = MedianFigures(floor6), grown = MedianFigures(note16);
            Print("banknote", few, path);
            Print("floor", few, bare);
            const Bench::Median ratio = Bench::MedianOf(ratios);
            std::printf("banknote/floor ratio (%s): %.2f (spread %.0f%% over %zu rounds, all within %.0f%%)\n", Bench::kArch,
                        ratio.value, ratio.spread * 100, ratio.rounds, ratio.range * 100);
            Print("banknote", stored.size(), grown);
            const double extra = double(stored.size() - few);
            std::printf("growth per stored denomination (%s): %+.2f registry calls, %+.3f ms\n", Bench::kArch,
                        (grown.CallsPerNote() - path.CallsPerNote()) / extra, (grown.MsPerNote() - path.MsPerNote()) / extra);
            terminal.EndCashSession();
            terminal.NotifyExit();
        }
        terminal.ReleaseExtenders();
        plugin.Reset();
    }
    OleUninitialize();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned notes = argc > 1 ? unsigned(std::max(1, std::atoi(argv[1]))) : 200;
    const unsigned rounds = argc > 2 ? unsigned(std::max(1, std::atoi(argv[2]))) : 15;
    const unsigned block = argc > 3 ? unsigned(std::max(1, std::atoi(argv[3]))) : 10;
    try {
        return Run(notes, rounds, block);
    } catch (const std::exception& error) {
        std::printf("failed: %s\n", error.what());
    }
    return 1;
}
