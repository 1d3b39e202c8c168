// One banknote through the plugin's real path (the cash-session sink, the eight counters, the
// CASH.ACCEPT record, the limit check) against its floor: the same eight increments done bare
// (a root create, then per counter a create, a query, a set and a close), in the same run. The
// plugin DLL is loaded as the terminal loads it; its registry imports, and this program's, are
// redirected to count the calls. Run by ./tally bench; prints figures, never passes or fails.
//   BanknoteBench.exe [notes per round [rounds]]
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
    double msPerNote = 1e9;
    RegistryCalls::Counts calls{};
    unsigned notes = 0;
    double CallsPerNote() const { return double(RegistryCalls::Total(calls)) / notes; }
};

class Stopwatch {
public:
    Stopwatch() {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
    }
    double Ms() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return double(now.QuadPart - start_.QuadPart) * 1000.0 / double(frequency_.QuadPart);
    }

private:
    LARGE_INTEGER frequency_, start_;
};

// Keeps the faster of two measurements of the same work; the counts are the same each round.
void KeepBest(Figures& best, const Figures& round) {
    if (round.msPerNote < best.msPerNote) best = round;
}

Figures Notes(Host::CashSession& session, const std::vector<uint32_t>& denominations, unsigned notes) {
    RegistryCalls::Reset();
    Stopwatch watch;
    for (unsigned i = 0; i < notes; ++i) session.Accept(long(denominations[i % denominations.size()]), kCurrency);
    return {watch.Ms() / notes, RegistryCalls::Taken(), notes};
}

Figures Floor(const std::vector<uint32_t>& denominations, unsigned notes) {
    RegistryCalls::Reset();
    Stopwatch watch;
    for (unsigned i = 0; i < notes; ++i) {
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
    return {watch.Ms() / notes, RegistryCalls::Taken(), notes};
}

void Print(const char* what, size_t stored, const Figures& f) {
    std::printf("%s: %zu denominations stored, %.3f ms per note, %.1f registry calls per note (%s)\n", what, stored,
                f.msPerNote, f.CallsPerNote(), RegistryCalls::Describe(f.calls, f.notes).c_str());
}

int Run(unsigned notes, unsigned rounds) {
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

            Figures note6, floor6, note16;
            for (unsigned r = 0; r < rounds; ++r) {
                KeepBest(floor6, Floor(stored, notes));
                KeepBest(note6, Notes(session, stored, notes));
            }
            const size_t few = stored.size();
            for (uint32_t d : more) session.Accept(long(d), kCurrency);
            stored.insert(stored.end(), more.begin(), more.end());
            for (unsigned r = 0; r < rounds; ++r) KeepBest(note16, Notes(session, {10, 50, 100, 500, 1000, 5000}, notes));

            std::printf("%u notes per round, best of %u rounds\n", notes, rounds);
            Print("banknote", few, note6);
            Print("floor", few, floor6);
            std::printf("banknote/floor ratio: %.2f\n", note6.msPerNote / floor6.msPerNote);
            Print("banknote", stored.size(), note16);
            const double extra = double(stored.size() - few);
            std::printf("growth per stored denomination: %+.2f registry calls, %+.3f ms\n",
                        (note16.CallsPerNote() - note6.CallsPerNote()) / extra, (note16.msPerNote - note6.msPerNote) / extra);
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
    const unsigned notes = argc > 1 ? unsigned(std::max(1, std::atoi(argv[1]))) : 100;
    const unsigned rounds = argc > 2 ? unsigned(std::max(1, std::atoi(argv[2]))) : 5;
    try {
        return Run(notes, rounds);
    } catch (const std::exception& error) {
        std::printf("failed: %s\n", error.what());
    }
    return 1;
}
