// TallySim: the terminal simulator. Runs scenario files against the plugin DLL and prints what the
// plugin did to the host.
//   TallySim [--fresh] [--plugin PATH] [--outbox FOLDER] SCENARIO...
#include "Framework/Exceptions.h"
#include "Framework/Text.h"
#include "Host/Scenario.h"
#include <objbase.h>
#include <cstdio>
#include <memory>
#include <shellapi.h>

namespace {

void PrintUtf8(const std::wstring& text) {
    std::string bytes = Narrow(text + L"\n", CP_UTF8);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

int Usage() {
    PrintUtf8(L"usage: TallySim [--fresh] [--plugin PATH] [--outbox FOLDER] SCENARIO...");
    return 2;
}

int Run(int argc, wchar_t** argv) {
    bool fresh = false;
    std::wstring plugin = Host::DefaultPluginPath(), outbox;
    std::vector<std::wstring> files;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--fresh")
            fresh = true;
        else if (arg == L"--plugin" && i + 1 < argc)
            plugin = argv[++i];
        else if (arg == L"--outbox" && i + 1 < argc)
            outbox = argv[++i];
        else if (arg.rfind(L"--", 0) == 0)
            return Usage();
        else
            files.push_back(arg);
    }
    if (files.empty()) return Usage();

    int failed = 0;
    for (const std::wstring& file : files) {
        PrintUtf8(L"== " + file + (fresh ? L" (fresh registry)" : L""));
        // Each file runs against its own terminal, and with --fresh its own empty registry and %TEMP%.
        std::unique_ptr<Host::ScratchHives> hives;
        std::unique_ptr<Host::ScratchTemp> temp;
        if (fresh) {
            hives = std::make_unique<Host::ScratchHives>();
            temp = std::make_unique<Host::ScratchTemp>();
        }
        bool ok = false;
        {
            Host::Scenario scenario(plugin);
            scenario.print = PrintUtf8;
            if (!outbox.empty()) scenario.Host().outboxFolder = outbox;
            ok = scenario.RunFile(file);
        }
        Host::Boxes::All().clear();
        Host::Clock::Clear();
        PrintUtf8(ok ? L"== passed" : L"== FAILED");
        if (!ok) ++failed;
    }
    return failed ? 1 : 0;
}

}  // namespace

int wmain(int, wchar_t**) {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 2;
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
