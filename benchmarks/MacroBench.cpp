// Throughput of the template processor on a generated 1 MB template of text, names, escapes,
// blocks, fields and loops. Run by hand: wine-run benchmarks/MacroBench.exe [megabytes [piece]]
// "MacroBench.exe scopes [V]" instead times V ":" variables followed by V define blocks for
// V, 2V, 4V and 8V: the time per block stays flat when scopes cost what they bind.
// "MacroBench.exe sizes" times templates of 10 KB, 100 KB, 1 MB and 8 MB and says whether the time
// grows linearly with the size (./tally bench runs this).
#include "Bench.h"
#include "MacroProc/MacroProc.h"
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// `only` >= 0 repeats just that piece, to see what each construct costs.
std::wstring MakeTemplate(size_t chars, int only) {
    static const wchar_t* pieces[] = {
        L"Принята купюра %(bill) руб., всего %(total) шт.\r\n",
        L"%{if(%(flag)):Флаг установлен%}%{ifn(%(flag)):нет%}\r\n",
        L"%{field(width=12 align=right):%(amount)%}|%{field(prec=2 sep=.):%(price)%}|\r\n",
        L"%{define(a=1 b=2):[%(a)%(b)%(bill)]%}%t %d 100%% %q\r\n",
        L"%{for(n=c*):%(n)=%(:n);%}\r\n",
        L"%{comment: skipped %(undefined) %{if(1):x%} %}plain text without escapes, quite long.\r\n",
        L"%{ifzero(%(zero)):ноль%}%{field(maxlen=8 case=upper):%(long)%}\r\n",
    };
    std::wstring text;
    const size_t count = sizeof pieces / sizeof *pieces;
    for (size_t i = 0; text.size() < chars; ++i) text += pieces[only >= 0 ? size_t(only) % count : i % count];
    return text;
}

double Seconds(LARGE_INTEGER a, LARGE_INTEGER b, LARGE_INTEGER f) { return double(b.QuadPart - a.QuadPart) / double(f.QuadPart); }

// Every define block opens a scope over all the variables defined before it.
std::wstring ScopeTemplate(size_t v) {
    std::wstring text;
    for (size_t i = 0; i < v; ++i) text += L"%{define(:v" + std::to_wstring(i) + L"=x):%}";
    for (size_t i = 0; i < v; ++i) text += L"%{define(a=1):%(a)%(v" + std::to_wstring(i) + L")%}";
    return text;
}

int ScopeScaling(size_t v) {
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    for (size_t n = v; n <= 8 * v; n *= 2) {
        const std::wstring text = ScopeTemplate(n);
        MacroProc::Processor processor(L"bench", nullptr);
        QueryPerformanceCounter(&t0);
        const size_t produced = processor.Process(text).size();
        QueryPerformanceCounter(&t1);
        const double seconds = Seconds(t0, t1, freq);
        std::printf("V %6zu (%s): template %.2f M chars, output %zu chars, %.3f s, %.2f us per V\n", n, Bench::kArch,
                    double(text.size()) / (1024.0 * 1024.0), produced, seconds, seconds * 1e6 / double(n));
    }
    return 0;
}

// The best of `runs` runs over `text`, in seconds; `produced` is the output's length.
double BestRun(const std::wstring& text, int runs, size_t& produced) {
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    double best = 1e9;
    for (int run = 0; run < runs; ++run) {
        MacroProc::Processor processor(L"bench", nullptr);
        for (auto [name, value] : {std::pair{L"bill", L"500"}, {L"total", L"42"}, {L"flag", L"1"},
                                   {L"amount", L"1234"}, {L"price", L"12.5"}, {L"c1", L"x"}, {L"c2", L"y"},
                                   {L"c3", L"z"}, {L"zero", L"0"}, {L"long", L"abcdefghijklmnop"},
                                   {L"t", L"12:00"}, {L"d", L"08.12.2026"}})
            processor.Define(name, value);
        QueryPerformanceCounter(&t0);
        produced = processor.Process(text).size();
        QueryPerformanceCounter(&t1);
        best = std::min(best, Seconds(t0, t1, freq));
    }
    return best;
}

// Time per character at the largest size against the smallest: within 1.5x counts as linear.
int Sizes() {
    const std::pair<const char*, size_t> sizes[] = {{"10 KB", 10 * 1024}, {"100 KB", 100 * 1024}, {"1 MB", 1024 * 1024}, {"8 MB", 8 * 1024 * 1024}};
    double firstPerChar = 0, lastPerChar = 0;
    for (const auto& [label, chars] : sizes) {
        const std::wstring text = MakeTemplate(chars, -1);
        size_t produced = 0;
        // Small templates are timed more often: one run of 10 KB is within the clock's noise.
        const double seconds = BestRun(text, chars <= 100 * 1024 ? 20 : 3, produced);
        const double perChar = seconds / double(text.size());
        if (firstPerChar == 0) firstPerChar = perChar;
        lastPerChar = perChar;
        std::printf("template %s (%s): %zu chars in, %zu chars out, %.4f s, %.2f M chars/s\n", label, Bench::kArch, text.size(), produced,
                    seconds, double(text.size()) / seconds / 1e6);
    }
    const double growth = lastPerChar / firstPerChar;
    std::printf("template time per char, 8 MB against 10 KB (%s): %.2fx (%s)\n", Bench::kArch, growth,
                growth <= 1.5 ? "linear" : "NOT linear");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "scopes") return ScopeScaling(argc > 2 ? size_t(std::atol(argv[2])) : 5000);
    if (argc > 1 && std::string(argv[1]) == "sizes") return Sizes();
    const double megabytes = argc > 1 ? std::atof(argv[1]) : 1.0;
    const int only = argc > 2 ? std::atoi(argv[2]) : -1;
    const std::wstring text = MakeTemplate(size_t(megabytes * 1024 * 1024), only);
    size_t produced = 0;
    const double best = BestRun(text, 5, produced);
    const double mb = double(text.size()) / (1024.0 * 1024.0);
    std::printf("template (%s) %.2f M chars, output %.2f M chars, best of 5: %.3f s, %.1f M chars/s\n", Bench::kArch, mb,
                double(produced) / (1024.0 * 1024.0), best, mb / best);
    return 0;
}
