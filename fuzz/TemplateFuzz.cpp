// The template processor over generated and mutated templates: nothing but a template error may
// leave Process, and that only when errors are to be rethrown; no context stays open; a second
// processor makes the same text and the same error records; output and time stay bounded.
#include "fuzz/Fuzz.h"
#include "MacroProc/MacroProc.h"
#include "PLLib/PLLib.h"
#include <typeinfo>

namespace Fuzz {

namespace {

const std::vector<std::wstring> kPieces = {
    L"text ", L"Принято ", L"\r\n", L" ", L"%%", L"%t", L"%q", L"%d", L"%", L"(", L")", L":", L"'", L"\"",
    L"=", L"%)", L"%}", L"%{", L"{", L"}", L"%(x)", L"%(c1)", L"%(:v)", L"%(var:y)", L"%(undefined)",
    L"%(%(x))", L"%(bad name)", L"%(nope:z)", L"%(", L"\\", L"*", L"?", L"\t", L"\u00a0", L"\0"};

const std::vector<std::wstring> kNames = {L"x", L"c1", L"c2", L"n", L":v", L"var:y", L"undefined", L"a b", L""};
const std::vector<std::wstring> kValues = {L"1", L"0", L"", L"'q'", L"\"two words\"", L"%(x)", L"-1", L"99999999999", L"c*"};
const std::vector<std::wstring> kOpeners = {
    L"if(%(x))", L"ifn(%(zero))", L"ifzero(%(zero))", L"ifdef(x)", L"define(a=1 b='q')", L"define(:v=3)",
    L"for(n=c*)", L"for(n=*)", L"field(width=6 align=right)", L"field(maxlen=3 case=upper)",
    L"field(prec=2 sep=.)", L"comment", L"if", L"define", L"for(n)", L"field(width=-5)", L"unknown(a=1)"};

std::wstring Generate(Random& random, int depth) {
    std::wstring text;
    const size_t parts = 1 + Below(random, 6);
    for (size_t i = 0; i < parts; ++i) {
        switch (Below(random, depth > 4 ? 3 : 5)) {
        case 0: text += Pick(random, kPieces); break;
        case 1: text += L"%(" + Pick(random, kNames) + L")"; break;
        case 2: text += L"text"; break;
        default: {
            std::wstring opener = Pick(random, kOpeners);
            if (Below(random, 4) == 0) opener += L"(" + Pick(random, kNames) + L"=" + Pick(random, kValues) + L")";
            text += L"%{" + opener + L":" + Generate(random, depth + 1) + L"%}";
        }
        }
    }
    return text;
}

struct Outcome {
    std::wstring text;
    std::vector<std::string> errors;
    std::string leaked;  // the kind of what left Process, empty when nothing did
    bool templateError = false;
    size_t openContexts = 0, scopes = 0;
    double seconds = 0;
};

// `rethrow` sends every template error on to the caller, as the template job's switch does.
Outcome Process(const std::wstring& input, bool rethrow) {
    Outcome outcome;
    MacroProc::Processor processor(L"fuzz", [&](const stringW& source, const MacroProc::Error& error) {
        outcome.errors.push_back(TemplateErrorRecord(source, error.ReasonW()));
        return !rethrow;
    });
    for (auto [name, value] : {std::pair{L"x", L"1"}, {L"zero", L"0"}, {L"c1", L"a"}, {L"c2", L"b"}, {L"c3", L"c"},
                               {L"long", L"abcdefghijklmnop"}})
        processor.Define(name, value);
    const auto start = std::chrono::steady_clock::now();
    try {
        outcome.text = processor.Process(input);
    } catch (const MacroProc::Error& e) {
        outcome.leaked = typeid(e).name();
        outcome.templateError = true;
    } catch (const std::exception& e) {
        outcome.leaked = std::string(typeid(e).name()) + ": " + e.what();
    } catch (...) {
        outcome.leaked = "an exception of unknown type";
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.openContexts = processor.contexts.size();
    outcome.scopes = processor.ScopeDepth();
    return outcome;
}

void Check(Run& run, const std::wstring& input, bool rethrow) {
    run.Trying(input);
    const Outcome first = Process(input, rethrow);
    const char* mode = rethrow ? " (errors rethrown)" : "";
    if (!first.leaked.empty() && !(rethrow && first.templateError))
        run.Fault(first.leaked + " left Process" + mode, input);
    if (first.openContexts) run.Fault(std::to_string(first.openContexts) + " contexts left open" + mode, input);
    if (first.scopes != 1) run.Fault(std::to_string(first.scopes) + " scopes after Process" + mode, input);
    if (first.text.size() > MacroProc::kMaxText) run.Fault("output beyond the text bound" + std::string(mode), input);
    // Generous: the bounds allow a million loop passes, which take a while on a busy machine.
    if (first.seconds > 20) run.Fault("took " + std::to_string(first.seconds) + " s" + mode, input);
    const Outcome second = Process(input, rethrow);
    if (second.text != first.text || second.errors != first.errors || second.leaked != first.leaked)
        run.Fault("a second processor gave another result" + std::string(mode), input);
}

}  // namespace

bool FuzzTemplates(Run& run) {
    std::vector<std::wstring> corpus;
    while (run.More()) {
        std::wstring input = corpus.empty() || Below(run.random, 3) == 0
                                 ? Generate(run.random, 0)
                                 : Mutate(run.random, Pick(run.random, corpus), kPieces);
        if (corpus.size() < 256) corpus.push_back(input);
        else corpus[Below(run.random, corpus.size())] = input;
        const bool rethrown = Below(run.random, 4) == 0;
        Check(run, input, rethrown);
    }
    return run.Summary();
}

}  // namespace Fuzz
