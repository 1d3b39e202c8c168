#include "MacroProc/MacroProc.h"
#include "Framework/Numbers.h"
#include <algorithm>

namespace MacroProc {

namespace {

std::string Rest(Pos pos, Pos end) { return pos && pos < end ? Narrow(std::wstring_view(pos, size_t(end - pos))) : std::string(); }

struct Keyword {
    const wchar_t* word;
    int kind;  // condition kind, or -1
    bool sense;
};

const Keyword kConditions[] = {
    {L"if", 0, true},     {L"ifn", 0, false},    {L"ifdef", 1, true},
    {L"ifndef", 1, false}, {L"ifzero", 2, true}, {L"ifnzero", 2, false},
};

}  // namespace

BlockContext::BlockContext(Processor& p) : Context(p, 2), savedSkipping(p.skipping) {}

BlockContext::~BlockContext() {
    processor.skipping = savedSkipping;
    if (scopePushed) processor.PopScope();
}

bool BlockContext::Settle(const Error& error, Pos pos) {
    return HandleError(error, pos) || processor.ReportError(error);
}

void BlockContext::Scan(Pos& pos, stringW& out) {
    Processor& p = processor;
    if (p.At(pos) != L'%' || p.At(pos, 1) != L'{')
        throw InternalError("Illegal use of block context: " + Rest(pos, p.End()));
    const Pos open = pos;
    pos += 2;
    ScanBlockHeader(pos);
    if (passThrough && !p.skipping) p.Append(out, open, pos);

    if (!isFor) {
        ScanBlockBody(pos, out);
        return;
    }
    std::vector<keystringW> names;
    if (!loopPattern.empty() || !loopVariable.empty()) names = p.ListNames(loopPattern);
    if (names.empty()) {
        p.skipping = true;
        ScanBlockBody(pos, out);
        return;
    }
    const Pos body = pos;
    for (const keystringW& name : names) {
        p.CountLoopPass();
        pos = body;
        p.Define(loopVariable.str(), name.str());
        ScanBlockBody(pos, out);
    }
}

void BlockContext::ScanBlockHeader(Pos& pos) {
    Processor& p = processor;
    try {
        const stringW keyword = p.ScanIdentifier(pos);
        if (keyword.empty()) {
            ExpectColon(pos);
            return;
        }
        if (SameWord(keyword, L"comment") || SameWord(keyword, L"rem")) {
            ExpectColon(pos);
            p.skipping = true;
            return;
        }
        for (const Keyword& condition : kConditions) {
            if (SameWord(keyword, condition.word)) {
                ScanCondition(pos, unsigned(condition.kind), condition.sense);
                return;
            }
        }
        if (SameWord(keyword, L"define")) {
            ScanParams(pos, params);
            p.PushScope();
            scopePushed = true;
            for (const auto& [name, value] : params) p.Define(name.str(), value);
            ExpectColon(pos);
        } else if (SameWord(keyword, L"field")) {
            formatted = true;
            ScanParams(pos, params);
            ExpectColon(pos);
        } else if (SameWord(keyword, L"for")) {
            isFor = true;
            loopVariable = keystringW();
            size_t count = ScanParams(pos, params);
            ExpectColon(pos);
            if (count > 0 && !params.empty()) {
                loopVariable = params.begin()->first;
                loopPattern = params.begin()->second;
            }
        } else {
            p.SkipHeader(pos);
            passThrough = true;
        }
    } catch (const LimitExceeded&) {
        throw;
    } catch (const Error& e) {
        if (!Settle(e, pos)) throw;
        p.skipping = true;
        p.SkipHeader(pos);
    }
}

void BlockContext::ScanCondition(Pos& pos, unsigned kind, bool sense) {
    Processor& p = processor;
    try {
        p.SkipSpace(pos);
        if (p.At(pos) != L'(' || p.AtEnd(pos)) throw SyntaxExpected(L"(");
        ++pos;
        p.SkipSpace(pos);
        const stringW value = p.ScanValue(pos, nullptr);
        p.SkipSpace(pos);
        if (p.At(pos) != L')' || p.AtEnd(pos)) throw SyntaxExpected(L")");
        ++pos;
        bool result;
        switch (kind) {
        case 0: result = !value.empty(); break;
        case 1: result = p.IsDefined(value); break;
        case 2: {
            const std::string text = Narrow(value);
            double number = 0;
            result = !text.empty() && ScanNumberAny(text, number, {0, 2, 1}) && ((number == 0) == sense);
            break;
        }
        default: throw InternalError(FormatBuffer(256, "Unknown condition type: %u", kind));
        }
        if (kind < 2 && !sense) result = !result;
        if (!result) p.skipping = true;
        ExpectColon(pos);
    } catch (const LimitExceeded&) {
        throw;
    } catch (const Error& e) {
        if (!Settle(e, pos)) throw;
        p.SkipHeader(pos);
        p.skipping = true;
    }
}

size_t BlockContext::ScanParams(Pos& pos, Params& map) {
    Processor& p = processor;
    p.SkipSpace(pos);
    if (p.At(pos) != L'(' || p.AtEnd(pos)) return 0;
    ++pos;
    size_t count = 0;
    for (;;) {
        const Pos start = pos;
        bool reported = false;  // an IllegalName key already went through Settle
        try {
            p.SkipSpace(pos);
            bool illegal = false;
            bool valid = true;
            stringW key = p.ScanIdentifier(pos, valid);
            if (!valid) {
                illegal = true;
                if (!Settle(IllegalName(key), pos)) {
                    reported = true;
                    throw IllegalName(key);
                }
            }
            if (p.At(pos) == L':' && !p.AtEnd(pos)) {
                ++pos;
                p.Append(key, L':');
                stringW second = p.ScanIdentifier(pos, valid);
                p.Append(key, second);
                if (!valid) {
                    illegal = true;
                    if (!Settle(IllegalName(second), pos)) {
                        reported = true;
                        throw IllegalName(second);
                    }
                }
            }
            if (key.empty() && !illegal) {
                if (p.AtEnd(pos)) break;
                if (*pos == L')') {
                    ++pos;
                    break;
                }
                if (*pos != L'=') break;
                ++pos;
                if (p.skipping) break;
                throw IllegalName(stringW());
            }
            p.SkipSpace(pos);
            stringW value;
            if (p.At(pos) == L'=' && !p.AtEnd(pos)) {
                ++pos;
                p.SkipSpace(pos);
                value = p.ScanValue(pos, L"=");
            }
            if (!p.skipping) {
                p.CountText(value.size());
                map[keystringW(key)] = value;
                ++count;
            }
        } catch (const LimitExceeded&) {
            throw;
        } catch (const Error& e) {
            if (reported || !Settle(e, pos)) throw;
            if (pos == start) break;
            continue;
        }
        // A parameter that consumed nothing would repeat forever.
        if (pos == start) break;
    }
    return count;
}

bool BlockContext::ExpectColon(Pos& pos) {
    Processor& p = processor;
    p.SkipSpace(pos);
    if (p.At(pos) == L':' && !p.AtEnd(pos)) {
        ++pos;
        return true;
    }
    if (!p.skipping) {
        SyntaxExpected error(L":");
        if (!Settle(error, pos)) throw error;
    }
    p.SkipHeader(pos);
    return false;
}

void BlockContext::ScanBlockBody(Pos& pos, stringW& out) {
    Processor& p = processor;
    const size_t mark = out.size();
    for (;;) {
        Pos next = std::find(pos, p.End(), L'%');
        if (!p.skipping) p.Append(out, pos, next);
        pos = next;
        if (p.AtEnd(pos)) {
            if (p.skipping) break;
            throw SyntaxExpected(L"%}", true);
        }
        if (pos + 1 == p.End()) {
            // The final "%" belongs to the unfinished block, whose partial output is dropped.
            ++pos;
            if (!p.skipping) throw SyntaxExpected(L"}", true);
            continue;
        }
        if (pos[1] == L'}') {
            pos += 2;
            if (!p.skipping && passThrough) p.Append(out, L"%}");
            break;
        }
        try {
            p.ScanEscape(pos, out);
        } catch (const LimitExceeded&) {
            throw;
        } catch (const Error& e) {
            if (!Settle(e, pos)) {
                p.CloseContextsAbove(this);
                throw;
            }
        }
        p.CloseContextsAbove(this);
    }
    if (formatted && !p.skipping) {
        stringW text = out.substr(mark);
        out.resize(mark);
        p.Append(out, FormatField(params, text));
    }
}

}  // namespace MacroProc
