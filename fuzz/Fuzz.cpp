// TallyFuzz DRIVER|all [SECONDS [SEED]] [--plugin PATH] [--inputs N] [--trace]
// DRIVER: template (the template processor), decode (template file decoding), scenario (scenario
// lines; with --plugin they also run against a started terminal). SECONDS is per driver.
// A seed draws the same inputs in the same order; only how many fit in the time varies. So a run
// is replayed with --inputs N (N inputs, whatever the time), and --trace prints each input first.
#include "fuzz/Fuzz.h"
#include "Harness/ScratchRegistry.h"
#include <windows.h>
#include <cstdio>
#include <cstdlib>

namespace Fuzz {

namespace {
std::wstring* g_trying = nullptr;
size_t g_tryingIndex = 0;
const char* g_driver = "";
DWORD g_mainThread = 0;

// "module+offset" of a code address, for addr2line.
void PrintFrame(const void* address) {
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<const char*>(address), &module))
        GetModuleFileNameA(module, name, MAX_PATH);
    std::printf("  %p %s+0x%llx\n", address, name,
                static_cast<unsigned long long>(static_cast<const char*>(address) - reinterpret_cast<const char*>(module)));
}

// Where it happened too: a crash on another thread (a pool callback, a timer) need not come from
// the input being tried.
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD& record = *info->ExceptionRecord;
    if (g_trying)
        std::printf("fuzz %s: CRASH, exception 0x%08lx on input %zu \"%s\"\n", g_driver,
                    static_cast<unsigned long>(record.ExceptionCode), g_tryingIndex, Escape(*g_trying).c_str());
    else  // the summary was printed: the objects of the run are going, or the process is ending
        std::printf("fuzz %s: CRASH, exception 0x%08lx after its %zu inputs\n", g_driver,
                    static_cast<unsigned long>(record.ExceptionCode), g_tryingIndex);
    std::printf("  on the %s thread, access %lu at 0x%llx; frames:\n", GetCurrentThreadId() == g_mainThread ? "main" : "another",
                static_cast<unsigned long>(record.NumberParameters > 0 ? record.ExceptionInformation[0] : 0),
                static_cast<unsigned long long>(record.NumberParameters > 1 ? record.ExceptionInformation[1] : 0));
    PrintFrame(record.ExceptionAddress);
#ifdef _WIN64
    CONTEXT context = *info->ContextRecord;
    for (int frame = 0; frame < 24 && context.Rip; ++frame) {
        DWORD64 base = 0;
        RUNTIME_FUNCTION* function = RtlLookupFunctionEntry(context.Rip, &base, nullptr);
        if (!function) {  // a leaf: its return address is on top of the stack
            context.Rip = *reinterpret_cast<DWORD64*>(context.Rsp);
            context.Rsp += 8;
        } else {
            void* handlerData = nullptr;
            DWORD64 establisher = 0;
            RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, function, &context, &handlerData, &establisher, nullptr);
        }
        if (context.Rip) PrintFrame(reinterpret_cast<const void*>(context.Rip));
    }
#endif
    std::fflush(stdout);
    ExitProcess(3);
}
}  // namespace

size_t Run::limit = 0;
bool Run::trace = false;

Run::Run(const char* driver, unsigned seed, double seconds)
    : random(seed), driver_(driver), seed_(seed), start_(std::chrono::steady_clock::now()) {
    end_ = start_ + std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    g_driver = driver;
}

bool Run::More() {
    if (limit ? inputs_ >= limit : std::chrono::steady_clock::now() >= end_) return false;
    ++inputs_;
    return true;
}

void Run::Trying(const std::wstring& input) {
    static std::wstring current;
    current = input;
    g_trying = &current;
    g_tryingIndex = inputs_;
    if (trace) {
        std::printf("fuzz %s: input %zu \"%s\"\n", driver_, inputs_, Escape(input).c_str());
        std::fflush(stdout);
    }
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
    g_trying = nullptr;
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
    for (size_t i = 0; i < args.size();) {
        if (args[i] == L"--plugin" && i + 1 < args.size()) {
            plugin = args[i + 1];
        } else if (args[i] == L"--inputs" && i + 1 < args.size()) {
            Fuzz::Run::limit = size_t(wcstoull(args[i + 1].c_str(), nullptr, 10));
        } else if (args[i] == L"--trace") {
            Fuzz::Run::trace = true;
            args.erase(args.begin() + long(i));
            continue;
        } else {
            ++i;
            continue;
        }
        args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
    }
    if (args.empty()) {
        std::printf("usage: TallyFuzz template|decode|scenario|all [SECONDS [SEED]] [--plugin PATH] [--inputs N] [--trace]\n");
        return 2;
    }
    const std::wstring which = args[0];
    const double seconds = args.size() > 1 ? _wtof(args[1].c_str()) : 20.0;
    const unsigned seed = args.size() > 2 ? unsigned(wcstoul(args[2].c_str(), nullptr, 10)) : unsigned(GetTickCount());
    Fuzz::g_mainThread = GetCurrentThreadId();
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
