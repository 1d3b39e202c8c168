// Template file decoding and scenario lines: the two other places that turn outside text into
// something the tree works with.
#include "fuzz/Fuzz.h"
#include "Framework/Exceptions.h"
#include "Framework/Text.h"
#include "Host/Scenario.h"
#include "PLLib/PLLib.h"
#include <windows.h>
#include <fstream>
#include <typeinfo>

namespace Fuzz {

namespace {

std::wstring AsWide(const std::string& bytes) {
    std::wstring wide;
    for (char c : bytes) wide += wchar_t(static_cast<unsigned char>(c));
    return wide;
}

// Text of whole characters: a surrogate pair is never split.
std::wstring RandomWide(Random& random, size_t length) {
    static const std::vector<std::wstring> characters = {L"a", L"X", L"0", L" ", L"\r", L"\n", L"\t", L"а", L"Ж", L"ё",
                                                         L"№", L"€", L"\u00a0", L"\u2026", L"\u00ab", L"\u4e2d",
                                                         L"\U0001F600"};
    std::wstring text;
    while (text.size() < length) text += Pick(random, characters);
    return text;
}

std::string Utf8(const std::wstring& text) { return Narrow(text, CP_UTF8); }

}  // namespace

bool FuzzDecoding(Run& run) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring file = std::wstring(folder) + L"tally-fuzz-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    const std::string bom = "\xEF\xBB\xBF";
    while (run.More()) {
        std::string bytes;
        std::wstring expected;
        bool exact = false;
        switch (Below(run.random, 4)) {
        case 0:  // UTF-8 with the signature, made from known text
            expected = RandomWide(run.random, Below(run.random, 40));
            bytes = bom + Utf8(expected);
            exact = true;
            break;
        case 1:  // the signature and anything after it, broken sequences included
            bytes = bom;
            for (size_t n = Below(run.random, 40); n; --n) bytes += char(Below(run.random, 256));
            break;
        case 2:  // half a signature or none: ANSI bytes
            bytes = bom.substr(0, Below(run.random, 3));
            for (size_t n = Below(run.random, 40); n; --n) bytes += char(Below(run.random, 256));
            break;
        default: {  // mutated UTF-8
            std::wstring mutated = Mutate(run.random, AsWide(bom + Utf8(RandomWide(run.random, 20))), {L"\xEF", L"\xBB\xBF", L"\x80", L"\xC0"});
            for (wchar_t c : mutated) bytes += char(c & 0xFF);
        }
        }
        const std::wstring input = AsWide(bytes);
        run.Trying(input);
        std::wstring decoded;
        try {
            decoded = DecodeText(bytes);
        } catch (const std::exception& e) {
            run.Fault(std::string("DecodeText raised ") + typeid(e).name() + ": " + e.what(), input);
            continue;
        }
        const bool signed8 = bytes.compare(0, 3, bom) == 0;
        if (exact && decoded != expected) run.Fault("UTF-8 text did not come back as written", input);
        // Windows-1251 has one character per byte.
        if (!signed8 && GetACP() == 1251 && decoded.size() != bytes.size())
            run.Fault("ANSI text changed its length", input);
        // A second signature right after the first is text.
        if (signed8 && !decoded.empty() && decoded[0] == 0xFEFF && bytes.compare(3, 3, bom) != 0)
            run.Fault("the signature was kept as text", input);
        if (Below(run.random, 16) == 0) {  // through a file too: the same text
            {
                std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
                out.write(bytes.data(), std::streamsize(bytes.size()));
            }
            try {
                if (LoadFile(file) != decoded) run.Fault("LoadFile differs from DecodeText", input);
            } catch (const std::exception& e) {
                run.Fault(std::string("LoadFile raised ") + e.what(), input);
            }
        }
    }
    DeleteFileW(file.c_str());
    return run.Summary();
}

namespace {

const std::vector<std::wstring> kLinePieces = {
    L" ", L"\t", L"\"", L"\\\\", L"\\", L"-", L"=", L"#", L"9223372036854775808", L"-1", L"0", L"100", L"RUB",
    L"HKLM\\Software", L"HKCU", L"sz:", L"dword:", L"2026-12-08 23:59:58", L"2026-02-30 10:00", L"99:99",
    L"on", L"off", L"wait", L"expect", L"купюра", L"\u00a0"};

// Lines that name real commands, to be mutated; none writes files or waits on purpose.
const std::vector<std::wstring> kSeedLines = {
    L"payment 100 RUB 100 RUB 500 RUB", L"payment-aborted 100 RUB", L"currency RUB",
    L"clock 2026-12-08 23:59:58 held", L"reg HKLM\\Software\\Velmor\\Paylantra\\Plugins\\Tallymark Disabled = dword:0",
    L"fail Terminal.SetFailure E_FAIL", L"fail Terminal.SetFailure off", L"flag on", L"echo текст",
    L"event Tallymark.Collect.Request", L"prop X = Y", L"session set A = B", L"session create",
    L"stacker remove", L"stacker insert", L"failure BillCounterOverflow on", L"zreport",
    L"expect reg \"HKLM\\Software\\Velmor\\Paylantra\\Plugins\\Tallymark\\Bill Counters\\App\\RUB\" 100 = 2",
    L"expect prop X = Y", L"expect box текст", L"expect no-box", L"expect event E", L"expect calls Terminal.SetFailure 1",
    L"expect mails 0", L"expect log CASH.ACCEPT принята", L"expect no-log CASH.ACCEPT", L"expect failure X on",
    L"expect env A = B", L"expect navigate x", L"expect script x", L"expect mail x"};

// Commands left out of runs: they write files where the line says, wait as long as it says,
// open windows, or end the terminal the run keeps.
bool Unsafe(const std::wstring& line) {
    Host::Line words(line, L"", 0);
    std::wstring first;
    try {
        first = words.AtEnd() ? std::wstring() : words.Word();
    } catch (...) {
        return false;
    }
    for (const wchar_t* name : {L"file", L"wait", L"control", L"dialog", L"dump", L"start", L"exit"})
        if (EqualNoCase(first, name)) return true;
    return line.find(L"wait") != std::wstring::npos || line.find(L"tick") != std::wstring::npos;
}

// The parsing calls a command makes, in an order drawn at random: only scenario errors may come.
void ParseAtRandom(Run& run, const std::wstring& text) {
    Host::Line line(text, L"fuzz", 1);
    try {
        for (int step = 0; step < 8; ++step) {
            switch (Below(run.random, 8)) {
            case 0: line.Word(); break;
            case 1: line.Peek(); break;
            case 2: line.Number(); break;
            case 3: line.Keyword({L"on", L"off", L"held"}); break;
            case 4: {
                std::wstring sub;
                Host::ParseRegistryPath(line.Word(), sub);
                break;
            }
            case 5: Host::ParseClock(line.Rest()); break;
            case 6: Host::ParseLogRecord(line.Rest()); break;
            default: line.Expect(L"="); break;
            }
            if (line.AtEnd()) break;
        }
    } catch (const Host::ScenarioError&) {
    } catch (const std::exception& e) {
        run.Fault(std::string(typeid(e).name()) + " from the line parser: " + e.what(), text);
    } catch (...) {
        run.Fault("an exception of unknown type from the line parser", text);
    }
}

}  // namespace

bool FuzzScenarioLines(Run& run, const std::wstring& plugin) {
    std::unique_ptr<Host::Scenario> scenario;
    if (!plugin.empty()) {
        scenario = std::make_unique<Host::Scenario>(plugin);
        scenario->print = [](const std::wstring&) {};
        scenario->RunLine(L"start");
    }
    std::vector<std::wstring> corpus = kSeedLines;
    while (run.More()) {
        std::wstring text = Below(run.random, 8) == 0 ? RandomWide(run.random, Below(run.random, 30))
                                                      : Mutate(run.random, Pick(run.random, corpus), kLinePieces);
        run.Trying(text);
        ParseAtRandom(run, text);
        if (scenario && !Unsafe(text)) {
            try {
                scenario->RunLine(text, L"fuzz", 1);
            } catch (...) {
                run.Fault("an exception left RunLine", text);
            }
        }
        if (corpus.size() < 512) corpus.push_back(text);
    }
    return run.Summary();
}

}  // namespace Fuzz
