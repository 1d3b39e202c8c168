// TallySim: the terminal simulator. Runs scenario files against the plugin DLL and prints what the
// plugin did to the host.
//   TallySim [--fresh] [--preview] [--plugin PATH] [--outbox FOLDER] SCENARIO...
//   TallySim --help [--markdown]
#include "Framework/Exceptions.h"
#include "Framework/Paths.h"
#include "Framework/Text.h"
#include "Host/Scenario.h"
#include <objbase.h>
#include <cstdio>
#include <memory>
#include <shellapi.h>

namespace {

void WriteUtf8(FILE* to, const std::wstring& text) {
    std::string bytes = Narrow(text + L"\n", CP_UTF8);
    fwrite(bytes.data(), 1, bytes.size(), to);
    fflush(to);
}

void PrintUtf8(const std::wstring& text) { WriteUtf8(stdout, text); }
void ErrorUtf8(const std::wstring& text) { WriteUtf8(stderr, text); }

constexpr wchar_t kUsage[] =
    L"usage: TallySim [--fresh] [--preview] [--plugin PATH] [--outbox FOLDER] SCENARIO...\n"
    L"       TallySim --help [--markdown]\n"
    L"--fresh runs each file in a process of its own, with an empty registry, %TEMP% and %APPDATA%.\n"
    L"--preview prints only the texts of `print` lines, and their template errors on stderr; the transcript\n"
    L"goes to stderr when a line fails.";

int Usage() {
    PrintUtf8(kUsage);
    return 2;
}

// One argument as CommandLineToArgvW reads it back: quoted, with the backslashes before a quote doubled.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}

// Runs this program on one file with the given options; its exit status.
int RunChild(const std::vector<std::wstring>& options, const std::wstring& file) {
    std::wstring command = QuoteArgument(ModuleFileNameW(nullptr));
    for (const std::wstring& option : options) command += L" " + QuoteArgument(option);
    command += L" " + QuoteArgument(file);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    // The child writes into this program's own output, in order.
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    for (HANDLE handle : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        if (handle && handle != INVALID_HANDLE_VALUE) SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process))
        throw WindowsError(GetLastError(), "Host/TallySim", __LINE__);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(status);
}

int RunFile(const std::wstring& plugin, const std::wstring& outbox, bool fresh, bool preview, const std::wstring& file) {
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
    {
        Host::Scenario scenario(plugin);
        scenario.print = say;
        if (preview) {
            scenario.show = PrintUtf8;
            scenario.warn = ErrorUtf8;
        }
        if (!outbox.empty()) scenario.Host().outboxFolder = outbox;
        ok = scenario.RunFile(file);
    }
    Host::Boxes::All().clear();
    Host::Clock::Clear();
    say(ok ? L"== passed" : L"== FAILED");
    if (!ok)
        for (const std::wstring& line : transcript) ErrorUtf8(line);
    return ok ? 0 : 1;
}

int Run(int argc, wchar_t** argv) {
    bool fresh = false, preview = false, help = false, markdown = false;
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
    for (const std::wstring& file : files) failed += RunFile(plugin, outbox, fresh, preview, file);
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
