#include "MacroProc/MacroProc.h"
#include <algorithm>
#include <cwchar>

namespace MacroProc {

namespace {

const wchar_t kIdentifierTerminators[] = L"\r\n\t (\"'{:},=;<>+-*/|\\[]";

bool IsLatin(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
bool IsCyrillic(wchar_t c) { return (c >= L'\x0410' && c <= L'\x044F') || c == L'\x0401' || c == L'\x0451'; }
bool IsQuote(wchar_t c) { return c == L'\'' || c == L'"'; }
bool InSet(wchar_t c, const wchar_t* set) { return set && c && std::wcschr(set, c); }

// The text from `pos` to the end, for internal error messages.
std::string Rest(Pos pos, Pos end) { return pos && pos < end ? Narrow(std::wstring_view(pos, size_t(end - pos))) : std::string(); }

// Closes the contexts opened above `keep` when the scope ends, also after errors.
class CloseAbove {
public:
    CloseAbove(Processor& p, Context* keep) : p_(p), keep_(keep) {}
    ~CloseAbove() { p_.CloseContextsAbove(keep_); }
    CloseAbove(const CloseAbove&) = delete;
    CloseAbove& operator=(const CloseAbove&) = delete;

private:
    Processor& p_;
    Context* keep_;
};

}  // namespace

bool SameWord(const stringW& text, const wchar_t* word) {
    size_t i = 0;
    for (; i < text.size() && word[i]; ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = wchar_t(c + 32);
        if (c != word[i]) return false;
    }
    return i == text.size() && !word[i];
}

bool IsSpace(wchar_t c) { return c == L'\r' || c == L'\n' || c == L'\t' || c == L' '; }
bool IsNameStart(wchar_t c) { return IsLatin(c) || IsCyrillic(c) || c == L'_'; }
bool IsNameChar(wchar_t c) {
    return IsNameStart(c) || (c >= L'0' && c <= L'9') || c == L'.' || c == L'$' || c == L'#' || c == L'@';
}

Context* Processor::OpenContext(unsigned kind) {
    if (contexts.size() >= kMaxNesting) throw LimitExceeded(LimitExceeded::Nesting);
    std::unique_ptr<Context> context;
    switch (kind) {
    case 0: context = std::make_unique<TopContext>(*this); break;
    case 1: context = std::make_unique<NameContext>(*this); break;
    case 2: context = std::make_unique<BlockContext>(*this); break;
    default: throw InternalError(FormatBuffer(256, "Unknown scan context type: %u", kind));
    }
    contexts.push_back(std::move(context));
    return contexts.back().get();
}

void Processor::CloseContextsAbove(Context* context) {
    while (!contexts.empty() && contexts.back().get() != context) contexts.pop_back();
}

void Processor::SkipSpace(Pos& pos) {
    while (!AtEnd(pos) && IsSpace(*pos)) ++pos;
}

void TopContext::Scan(Pos& pos, stringW& out) {
    Processor& p = processor;
    while (!p.AtEnd(pos)) {
        Pos next = std::find(pos, p.End(), L'%');
        if (next == pos && pos + 1 < p.End()) {
            CloseAbove closer(p, this);
            try {
                p.ScanEscape(pos, out);
            } catch (const LimitExceeded&) {
                throw;
            } catch (const Error& e) {
                if (!HandleError(e, pos) && !p.ReportError(e)) throw;
                return;
            }
        } else {
            if (next == pos) next = p.End();  // a final "%" is plain text
            if (!p.skipping) p.Append(out, pos, next);
            pos = next;
        }
    }
}

void Processor::ScanEscape(Pos& pos, stringW& out) {
    if (AtEnd(pos) || *pos != L'%') throw InternalError("Illegal use of ScanEscape: " + Rest(pos, end_));
    if (pos + 1 == end_) {
        ++pos;
        if (!skipping) Append(out, L'%');
        return;
    }
    const wchar_t c = pos[1];
    switch (c) {
    case L')':
    case L'}':
        pos += 2;
        if (!skipping) throw SyntaxUnexpected(stringW{L'%', c});
        return;
    case L'{':
    case L'(': {
        if (contexts.empty()) throw InternalError("Illegal use of ScanEscape: " + Rest(pos, end_));
        Context* parent = contexts.back().get();
        CloseAbove closer(*this, parent);
        const size_t mark = out.size();
        try {
            OpenContext(c == L'{' ? 2 : 1)->Scan(pos, out);
        } catch (const LimitExceeded&) {
            throw;
        } catch (const Error& e) {
            // Drop the partial output first: a name context's HandleError appends to `out`.
            out.resize(mark);
            if (!parent->HandleError(e, pos) && !ReportError(e)) throw;
        }
        return;
    }
    case L'%':
        pos += 2;
        if (!skipping) Append(out, L'%');
        return;
    default: {
        pos += 2;
        if (skipping) return;
        std::optional<stringW> value = EvaluateName(stringW(1, c), true);
        if (value)
            Append(out, *value);
        else if (!dropUndefinedEscapes)
            Append(out, pos - 2, pos);
    }
    }
}

void NameContext::Scan(Pos& pos, stringW& out) {
    Processor& p = processor;
    if (p.At(pos) != L'%' || p.At(pos, 1) != L'(')
        throw InternalError("Illegal use of name context: " + Rest(pos, p.End()));
    pos += 2;
    bool prefixTaken = false;
    keystringW prefix;
    for (;;) {
        segmentStart = pos;
        if (p.AtEnd(pos)) {
            if (p.skipping) break;
            throw SyntaxExpected(L")", true);
        }
        if (*pos == L')') {
            ++pos;
            break;
        }
        if (*pos == L':') {
            ++pos;
            p.Append(name, L':');
            prefix = name;
            prefixTaken = true;
            break;
        }
        if (!p.ScanName(pos, name, valid, nullptr)) break;
    }

    if (prefixTaken) {
        try {
            auto it = p.handlers.find(prefix);
            if (it == p.handlers.end()) {
                // Read past the rest of the reference so that it does not leak into the text.
                const bool wasSkipping = p.skipping;
                struct Restore {
                    Processor& p;
                    bool value;
                    ~Restore() { p.skipping = value; }
                } restore{p, wasSkipping};
                p.skipping = true;
                GlobalMacroNameHandler().ReadName(p, prefix, pos);
                p.skipping = wasSkipping;
                if (!wasSkipping) throw UnknownNamePrefix(prefix.str());
            } else {
                std::shared_ptr<NameHandler> handler = it->second;
                p.Append(name, handler->ReadName(p, prefix, pos));
            }
        } catch (const LimitExceeded&) {
            throw;
        } catch (const Error& e) {
            p.ReportError(e);
            return;
        }
    }

    if (p.skipping) return;
    if (name.empty()) valid = false;
    if (!valid) throw IllegalName(name);
    try {
        if (std::optional<stringW> value = p.EvaluateName(name, false)) p.Append(out, *value);
    } catch (const LimitExceeded&) {
        throw;
    } catch (const Error& e) {
        p.ReportError(e);
    }
}

bool NameContext::HandleError(const Error& error, Pos pos) {
    if (dynamic_cast<const IllegalName*>(&error) && !processor.skipping && segmentStart && pos >= segmentStart) {
        processor.Append(name, segmentStart, pos);
        valid = false;
    }
    return false;
}

bool Processor::ScanName(Pos& pos, stringW& name, bool& valid, const wchar_t* extraTerminators) {
    if (contexts.empty()) throw InternalError("Illegal use of ScanName: " + Rest(pos, end_));
    const Pos start = pos;
    if (AtEnd(pos)) return false;
    if (*pos == L'%') {
        if (At(pos, 1) == L'}') return false;
        if (At(pos, 1) == L'{') {
            pos += 2;
            if (!skipping) throw SyntaxUnexpected(L"%{");
            return true;
        }
        CloseAbove closer(*this, contexts.back().get());
        ScanEscape(pos, name);
        return pos != start;
    }
    const bool allowed = !name.empty() || IsNameStart(*pos);
    if (allowed) {
        Pos run = pos;
        while (!AtEnd(run) && IsNameChar(*run)) ++run;
        if (run == pos) valid = false;
        Append(name, pos, run);
        pos = run;
    } else {
        valid = false;
    }
    if (!valid) {
        Pos run = pos;
        while (!AtEnd(run) && *run != L'%' && *run != L')' && !InSet(*run, extraTerminators)) ++run;
        Append(name, pos, run);
        pos = run;
    }
    return pos != start;
}

stringW Processor::ScanIdentifier(Pos& pos, bool& valid) {
    valid = true;
    SkipSpace(pos);
    if (IsQuote(At(pos))) return ScanQuoted(pos);
    stringW name;
    while (!AtEnd(pos) && (*pos == L'%' || IsNameChar(*pos)))
        if (!ScanName(pos, name, valid, kIdentifierTerminators)) break;
    return name;
}

stringW Processor::ScanIdentifier(Pos& pos) {
    bool valid = true;
    stringW name = ScanIdentifier(pos, valid);
    if (!valid) throw IllegalName(name);
    return name;
}

stringW Processor::ScanValue(Pos& pos, const wchar_t* extraTerminators) {
    if (contexts.empty()) throw InternalError("Illegal use of ScanValue: " + Rest(pos, end_));
    if (IsQuote(At(pos))) return ScanQuoted(pos);
    stringW value;
    for (;;) {
        Pos run = pos;
        while (!AtEnd(run) && !IsSpace(*run) && *run != L'%' && *run != L'(' && *run != L')' &&
               !InSet(*run, extraTerminators))
            ++run;
        Append(value, pos, run);
        pos = run;
        if (At(pos) != L'%' || AtEnd(pos)) break;
        if (At(pos, 1) == L'{') {
            pos += 2;
            if (skipping) break;
            throw SyntaxUnexpected(L"%{");
        }
        CloseAbove closer(*this, contexts.back().get());
        ScanEscape(pos, value);
    }
    return value;
}

stringW Processor::ScanQuoted(Pos& pos) {
    const wchar_t delimiter = *pos++;
    stringW text;
    for (;;) {
        Pos close = std::find(pos, end_, delimiter);
        if (close == end_) {
            if (!skipping) throw SyntaxExpected(stringW(1, delimiter));
            pos = end_;
            return text;
        }
        if (close + 1 < end_ && close[1] == delimiter) {
            if (!skipping) Append(text, pos, close + 1);
            pos = close + 2;
            continue;
        }
        if (!skipping) Append(text, pos, close);
        pos = close + 1;
        return text;
    }
}

void Processor::SkipHeader(Pos& pos) {
    static const wchar_t stops[] = L"%:'\"()";
    int depth = 0;
    for (;;) {
        while (!AtEnd(pos) && !InSet(*pos, stops)) ++pos;
        if (AtEnd(pos)) break;
        const wchar_t c = *pos;
        if (c == L'%') {
            if (At(pos, 1) == L'}') break;
            ++pos;
            if (At(pos) == L'%' && !AtEnd(pos)) ++pos;
        } else if (IsQuote(c)) {
            ScanQuoted(pos);
        } else if (c == L'(') {
            ++depth;
            ++pos;
        } else if (c == L')') {
            ++pos;
            if (depth > 0)
                --depth;
            else if (!skipping)
                throw SyntaxUnexpected(L")");
        } else if (c == L':') {
            ++pos;
            if (depth == 0) return;
        }
    }
    if (depth > 0 && !skipping) throw SyntaxExpected(L")", AtEnd(pos));
}

}  // namespace MacroProc
