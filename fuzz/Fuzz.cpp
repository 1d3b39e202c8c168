// TallyFuzz DRIVER|all [SECONDS [SEED]] [--plugin PATH]
// DRIVER: template (the template processor), decode (template file decoding), scenario (scenario
// lines; with --plugin they also run against a started terminal). SECONDS is per driver.
#include "fuzz/Fuzz.h"
#include "Harness/ScratchRegistry.h"
#include <windows.h>
#include <cstdio>
#include <cstdlib>

namespace Fuzz {

namespace {
std::wstring* g_trying = nullptr;
const char* g_driver = "";

LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    std::printf("fuzz %s: CRASH, exception 0x%08lx on input \"%s\"\n", g_driver,
                static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                g_trying ? Escape(*g_trying).c_str() : "");
    std::fflush(stdout);
    ExitProcess(3);
}
}  // namespace

Run::Run(const char* driver, unsigned seed, double seconds)
    : random(seed), driver_(driver), seed_(seed), start_(std::chrono::steady_clock::now()) {
    end_ = start_ + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    g_driver = driver;
}

bool Run::More() {
    if (std::chrono::steady_clock::now() >= end_) return false;
    ++inputs_;
    return true;
}

void Run::Trying(const std::wstring& input) {
    static std::wstring current;
    current = input;
    g_trying = &current;
}

void Run::Fault(const std::string& what, const std::wstring& input) {
    ++faults_;
    // The same fault over and over says nothing new.
    if (faults_ <= 20) std::printf("fuzz %s: FAULT %s; input \"%s\"\n", driver_, what.c_str(), Escape(input).c_str());
    std::fflush(stdout);
}

bool Run::Summary() const {
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::printf("fuzz %s: %zu inputs, %zu faults (seed %u, %.0f s)\n", driver_, inputs_, faults_, seed_, seconds);
    std::fflush(stdout);
    return faults_ == 0;
}

std::wstring Mutate(Random& random, std::wstring text, const std::vector<std::wstring>& alphabet) {
    const size_t edits = 1 + Below(random, 4);
    for (size_t i = 0; i < edits; ++i) {
        const size_t at = Below(random, text.size() + 1);
        const size_t run = std::min(text.size() - at, 1 + Below(random, 8));
        switch (Below(random, 5)) {
        case 0: text.insert(at, Pick(random, alphabet)); break;
        case 1: text.erase(at, run); break;
        case 2: text.insert(at, text.substr(at, run)); break;
        case 3:
            if (run) text[at] = wchar_t(Below(random, 0x500));
            break;
        default: {
            const size_t other = Below(random, text.size() + 1);
            std::wstring moved = text.substr(at, run);
            text.erase(at, run);
            text.insert(std::min(other, text.size()), moved);
        }
        }
    }
    return text;
}

std::string Escape(const std::wstring& text) {
    std::string out;
    char buffer[16];
    for (wchar_t c : text) {
        if (c == L'\\') out += "\\\\";
        else if (c == L'"') out += "\\\"";
        else if (c == L'\r') out += "\\r";
        else if (c == L'\n') out += "\\n";
        else if (c == L'\t') out += "\\t";
        else if (c >= 0x20 && c < 0x7F) out += char(c);
        else {
            std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(c));
            out += buffer;
        }
    }
    return out;
}

}  // namespace Fuzz

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    std::wstring plugin;
    for (size_t i = 0; i < args.size(); ++i)
        if (args[i] == L"--plugin" && i + 1 < args.size()) {
            plugin = args[i + 1];
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
            break;
        }
    if (args.empty()) {
        std::printf("usage: TallyFuzz template|decode|scenario|all [SECONDS [SEED]] [--plugin PATH]\n");
        return 2;
    }
    const std::wstring which = args[0];
    const double seconds = args.size() > 1 ? _wtof(args[1].c_str()) : 20.0;
    const unsigned seed = args.size() > 2 ? unsigned(wcstoul(args[2].c_str(), nullptr, 10)) : unsigned(GetTickCount());
    SetUnhandledExceptionFilter(&Fuzz::ReportCrash);
    // Settings keys and what the scenario commands write go to a registry of this run's own.
    ScratchRegistry registry;
    bool clean = true, known = false;
    if (which == L"template" || which == L"all") {
        known = true;
        Fuzz::Run run("template", seed, seconds);
        clean = Fuzz::FuzzTemplates(run) && clean;
    }
    if (which == L"decode" || which == L"all") {
        known = true;
        Fuzz::Run run("decode", seed, seconds);
        clean = Fuzz::FuzzDecoding(run) && clean;
    }
    if (which == L"scenario" || which == L"all") {
        known = true;
        Fuzz::Run run("scenario", seed, seconds);
        clean = Fuzz::FuzzScenarioLines(run, plugin) && clean;
    }
    if (!known) {
        std::printf("TallyFuzz: unknown driver\n");
        return 2;
    }
    return clean ? 0 : 1;
}
