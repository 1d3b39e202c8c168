// TallySim: the terminal simulator. Runs scenario files against the plugin DLL and prints what the
// plugin did to the host.
//   TallySim [--fresh] [--preview] [--plugin PATH] [--outbox FOLDER] SCENARIO...
//   TallySim --help [--markdown]
//   TallySim --faults [--all | --sample N] [--range A-B | --points P,...] [--jobs N] [--timeout S] [--persist] SCENARIO
//                                                                             (Host/FaultMatrix.cpp)
//   TallySim --fresh --fault-report FILE [--fault CALL#K [--persist]] SCENARIO   one run of it
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Framework/Text.h"
#include "Host/Faults.h"
#include "Host/Process.h"
#include "Host/Scenario.h"
#include <objbase.h>
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <memory>
#include <shellapi.h>

namespace {

// The streams are binary and the line ends are made here: a text-mode stream asks the console
// for its mode at every chunk, a server round trip each, which made printing half of a run's cost.
void WriteUtf8(FILE* to, const std::wstring& text) {
    std::string bytes;
    for (char c : Narrow(text + L"\n", CP_UTF8)) {
        if (c == '\n') bytes += '\r';
        bytes += c;
    }
    fwrite(bytes.data(), 1, bytes.size(), to);
    fflush(to);
}

void PrintUtf8(const std::wstring& text) { WriteUtf8(stdout, text); }
void ErrorUtf8(const std::wstring& text) { WriteUtf8(stderr, text); }

constexpr wchar_t kUsage[] =
    L"usage: TallySim [--fresh] [--preview] [--plugin PATH] [--outbox FOLDER] SCENARIO...\n"
    L"       TallySim --help [--markdown]\n"
    L"       TallySim --faults [--all | --sample N] [--range A-B | --points P,...] [--jobs N] [--timeout S]\n"
    L"                [--persist] [--plugin PATH] SCENARIO\n"
    L"--fresh runs each file in a process of its own, with an empty registry, %TEMP% and %APPDATA%.\n"
    L"--preview prints only the texts of `print` lines, and their template errors on stderr; the transcript\n"
    L"goes to stderr when a line fails.\n"
    L"--faults runs the scenario once per failure point of the plugin (every registry, file and host call\n"
    L"at its k-th occurrence), each in a fresh process and registry, and checks that the terminal survives,\n"
    L"the failure shows and the bill counters stay exact; --range A-B runs only points A to B of them, and\n"
    L"--points only the points named, as CALL#K separated by commas (RegOpenKeyExW#355,WriteFile#3);\n"
    L"with --persist the call fails from its k-th occurrence on, every time, instead of once.";

int Usage() {
    PrintUtf8(kUsage);
    return 2;
}

// Runs this program on one file with the given options; its exit status.
int RunChild(const std::vector<std::wstring>& options, const std::wstring& file) {
    std::vector<std::wstring> args = options;
    args.push_back(file);
    Host::ChildProcess child(ModuleFileNameW(nullptr), args, false);
    child.Wait(INFINITE);
    return int(child.ExitCode());
}

// A run under fault injection: the failure point (none for the counting run) and where the outcome goes.
struct FaultRun {
    bool active = false;
    Host::Faults::Point point;
    bool persist = false;
    std::wstring report;
};

int RunFile(const std::wstring& plugin, const std::wstring& outbox, bool fresh, bool preview,
            const std::wstring& file, const FaultRun& fault) {
    std::vector<std::wstring> transcript;
    auto say = [&](const std::wstring& text) { preview ? transcript.push_back(text) : PrintUtf8(text); };
    say(L"== " + file + (fresh ? L" (fresh process, registry, %TEMP% and %APPDATA%)" : L""));
    // Each file runs against its own terminal, and with --fresh its own empty registry, %TEMP% and
    // %APPDATA%.
    std::unique_ptr<Host::ScratchHives> hives;
    std::unique_ptr<Host::ScratchTemp> temp;
    if (fresh) {
        hives = std::make_unique<Host::ScratchHives>();
        temp = std::make_unique<Host::ScratchTemp>();
    }
    bool ok = false;
    Host::Faults::Outcome outcome;
    {
        Host::Scenario scenario(plugin);
        scenario.print = say;
        if (preview) {
            scenario.show = PrintUtf8;
            scenario.warn = ErrorUtf8;
        }
        if (!outbox.empty()) scenario.Host().outboxFolder = outbox;
        if (fault.active) {
            // Loaded before the first line, so that every call the plugin makes is counted.
            scenario.Module().Load(plugin);
            Host::Faults::Instrument(scenario.Module().Handle());
            if (!fault.point.call.empty()) Host::Faults::Arm(scenario.Host(), fault.point, false, {}, fault.persist);
        }
        ok = scenario.RunFile(file);
        if (fault.active) {
            if (scenario.Started()) scenario.Exit();
            outcome.calls = Host::Faults::SystemCallCounts();
            outcome.fired = Host::Faults::SystemFaultFired() || scenario.Host().FailCallFired();
            outcome.target = Host::Faults::SystemFaultTarget();
            Host::Faults::GatherHost(scenario.Host(), outcome);
        }
    }
    if (fault.active) {
        Host::Faults::GatherStore(outcome);
        std::string bytes = Narrow(Host::Faults::Serialize(outcome), CP_UTF8);
        FILE* out = _wfopen(fault.report.c_str(), L"wb");
        if (!out || fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() || fclose(out) != 0)
            throw VelmorException(L"cannot write the fault report " + fault.report);
    }
    Host::Boxes::All().clear();
    Host::Clock::Clear();
    say(ok ? L"== passed" : L"== FAILED");
    if (!ok)
        for (const std::wstring& line : transcript) ErrorUtf8(line);
    return ok ? 0 : 1;
}

int Run(int argc, wchar_t** argv) {
    bool fresh = false, preview = false, help = false, markdown = false, faults = false;
    Host::Faults::MatrixOptions matrix;
    FaultRun fault;
    std::wstring plugin = Host::DefaultPluginPath(), outbox;
    std::vector<std::wstring> files;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--fresh")
            fresh = true;
        else if (arg == L"--preview")
            preview = true;
        else if (arg == L"--help")
            help = true;
        else if (arg == L"--markdown")
            markdown = true;
        else if (arg == L"--plugin" && i + 1 < argc)
            plugin = argv[++i];
        else if (arg == L"--outbox" && i + 1 < argc)
            outbox = argv[++i];
        else if (arg == L"--faults")
            faults = true;
        else if (arg == L"--all")
            matrix.sample = 0;
        else if (arg == L"--sample" && i + 1 < argc)
            matrix.sample = _wtoi(argv[++i]);
        else if (arg == L"--jobs" && i + 1 < argc)
            matrix.jobs = _wtoi(argv[++i]);
        else if (arg == L"--persist")
            matrix.persist = fault.persist = true;
        else if (arg == L"--timeout" && i + 1 < argc)
            matrix.timeoutSeconds = _wtoi(argv[++i]);
        else if (arg == L"--range" && i + 1 < argc) {
            unsigned long long first = 0, last = 0;
            if (swscanf(argv[++i], L"%llu-%llu", &first, &last) != 2 || first < 1 || last < first) return Usage();
            matrix.first = size_t(first);
            matrix.last = size_t(last);
        }
        else if (arg == L"--points" && i + 1 < argc) {
            std::wstring list = argv[++i];
            for (size_t from = 0; from <= list.size();) {
                size_t comma = std::min(list.find(L',', from), list.size());
                Host::Faults::Point point;
                if (!Host::Faults::Point::Parse(list.substr(from, comma - from), point)) return Usage();
                matrix.points.push_back(point);
                from = comma + 1;
            }
        }
        else if (arg == L"--fault" && i + 1 < argc) {
            if (!Host::Faults::Point::Parse(argv[++i], fault.point)) return Usage();
        } else if (arg == L"--fault-report" && i + 1 < argc) {
            fault.active = true;
            fault.report = argv[++i];
        }
        else if (arg.rfind(L"--", 0) == 0)
            return Usage();
        else
            files.push_back(arg);
    }
    if (help) {
        PrintUtf8(markdown ? Host::MarkdownTables() : std::wstring(kUsage) + L"\n\n" + Host::HelpText());
        return 0;
    }
    if (files.empty()) return Usage();
    if (faults) {
        if (files.size() != 1) return Usage();
        return Host::Faults::RunMatrix(ModuleFileNameW(nullptr), plugin, files[0], matrix, PrintUtf8);
    }
    if ((!fault.point.call.empty() && !fault.active) || (fault.persist && fault.point.call.empty())) return Usage();

    // A file leaves state in the process that no scratch registry covers (environment variables the
    // plugin set, the plugin's own statics): with --fresh each of several files gets a new process.
    if (fresh && files.size() > 1) {
        std::vector<std::wstring> options = {L"--fresh", L"--plugin", plugin};
        if (preview) options.push_back(L"--preview");
        if (!outbox.empty()) options.insert(options.end(), {L"--outbox", outbox});
        int failed = 0;
        for (const std::wstring& file : files)
            if (RunChild(options, file) != 0) ++failed;
        return failed ? 1 : 0;
    }
    int failed = 0;
    for (const std::wstring& file : files) failed += RunFile(plugin, outbox, fresh, preview, file, fault);
    return failed ? 1 : 0;
}

}  // namespace

int wmain(int, wchar_t**) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 2;
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    if (FAILED(OleInitialize(nullptr))) {
        PrintUtf8(L"TallySim: OleInitialize failed");
        return 2;
    }
    int rc = 2;
    try {
        rc = Run(argc, argv);
    } catch (const VelmorException& error) {
        PrintUtf8(L"TallySim: " + error.ReasonW());
    } catch (const std::exception& error) {
        PrintUtf8(L"TallySim: " + Widen(error.what()));
    }
    OleUninitialize();
    LocalFree(argv);
    return rc;
}
