#include "MacroProc/MacroProc.h"
#include <algorithm>

namespace MacroProc {

IllegalName::IllegalName(const stringW& name)
    : Error(name.empty() ? stringW(L"Пустое имя не допускается") : L"Недопустимое имя: " + name) {}
UndefinedName::UndefinedName(const stringW& name) : Error(L"Имя не определено: " + name) {}
SyntaxExpected::SyntaxExpected(const stringW& element, bool textEnded)
    : Error(L"Ожидается синтаксический элемент \"" + element + L"\""), textEnded(textEnded) {}
SyntaxUnexpected::SyntaxUnexpected(const stringW& element)
    : Error(L"Неожиданное использование синтаксического элемента \"" + element + L"\"") {}
UnknownNamePrefix::UnknownNamePrefix(const stringW& prefix)
    : Error(L"Неизвестный префикс имени: \"" + prefix + L"\"") {}
namespace {
stringW LimitMessage(LimitExceeded::Kind kind) {
    switch (kind) {
    case LimitExceeded::Nesting:
        return L"Превышена допустимая глубина вложенности синтаксических элементов (" + std::to_wstring(kMaxNesting) + L")";
    case LimitExceeded::Repetition:
        return L"Превышено допустимое число повторений блоков for (" + std::to_wstring(kMaxLoopPasses) + L")";
    case LimitExceeded::Text: break;
    }
    return L"Превышен допустимый объём текста шаблона (" + std::to_wstring(kMaxText) + L" знаков)";
}
}  // namespace

LimitExceeded::LimitExceeded(Kind kind) : Error(LimitMessage(kind)) {}

bool Context::HandleError(const Error&, Pos) { return false; }

// Prefix delegations (":" names whose rest has a prefix again) recurse; bound them like contexts.
class DelegationGuard {
public:
    explicit DelegationGuard(Processor& p) : p_(p) {
        if (p_.delegationDepth_ >= kMaxNesting) throw LimitExceeded(LimitExceeded::Nesting);
        ++p_.delegationDepth_;
    }
    ~DelegationGuard() { --p_.delegationDepth_; }
    DelegationGuard(const DelegationGuard&) = delete;
    DelegationGuard& operator=(const DelegationGuard&) = delete;

private:
    Processor& p_;
};

namespace {

struct SplitName {
    keystringW prefix;  // through the first ':', empty without one
    stringW rest;
};

SplitName Split(const stringW& name) {
    size_t colon = name.find(L':');
    if (colon == stringW::npos) return {keystringW(), name};
    return {keystringW(name.substr(0, colon + 1)), name.substr(colon + 1)};
}

wchar_t AsciiLower(wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c + 32) : c; }

bool SameChar(wchar_t a, wchar_t b) {
    if (a == b) return true;
    if (a < 0x80 && b < 0x80) return AsciiLower(a) == AsciiLower(b);
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, &a, 1, &b, 1) == CSTR_EQUAL;
}

// Whether the pattern segment [p, p + n) ('?' wild) matches the text at t.
bool SegmentAt(const wchar_t* p, size_t n, const wchar_t* t) {
    for (size_t i = 0; i < n; ++i)
        if (p[i] != L'?' && !SameChar(p[i], t[i])) return false;
    return true;
}

}  // namespace

Processor::Processor(const stringW& sourceName, ErrorSink errors) : source(sourceName), errors_(std::move(errors)) {
    PushScope();
    AddHandler(L":", std::make_shared<GlobalMacroNameHandler>());
}

Processor::~Processor() {
    // Blocks pop their scopes as they close; do it while the scopes still exist.
    CloseContextsAbove(nullptr);
}

stringW Processor::Process(const stringW& text) {
    stringW result;
    Pos pos = text.data();
    end_ = pos + text.size();
    textWritten_ = 0;
    textEndReported_ = false;
    struct Closer {
        Processor& p;
        ~Closer() { p.CloseContextsAbove(nullptr); }
    } closer{*this};
    try {
        OpenContext(0)->Scan(pos, result);
    } catch (const LimitExceeded& e) {
        // Close first: the report must not be silenced by a skipped block it happened in.
        CloseContextsAbove(nullptr);
        if (!ReportError(e)) throw;
        result.clear();
    } catch (const Error& e) {
        if (!ReportError(e)) throw;
        result.clear();
    }
    return result;
}

void Processor::CountLoopPass() {
    if (++loopPasses_ > kMaxLoopPasses) throw LimitExceeded(LimitExceeded::Repetition);
}

NameHandler* Processor::FindHandler(const keystringW& prefix) const {
    auto it = handlers.find(prefix);
    return it == handlers.end() ? nullptr : it->second.get();
}

void Processor::AddHandler(const keystringW& prefix, std::shared_ptr<NameHandler> handler) {
    handlers[prefix] = std::move(handler);
}

void Processor::Define(const stringW& name, const stringW& value) {
    if (name.empty() || skipping) return;
    SplitName split = Split(name);
    if (split.prefix.empty()) {
        SetInnermost(name, value);
    } else if (NameHandler* handler = FindHandler(split.prefix)) {
        DelegationGuard guard(*this);
        handler->SetValue(*this, split.prefix, split.rest, value);
    }
}

void Processor::DefineInAllScopes(const stringW& name, const stringW& value) {
    if (skipping) return;
    CountText(value.size());
    // One binding in the outermost scope, shadowed nowhere, is the value in every scope. The
    // outermost scope is never popped, so it needs no record of its bindings.
    std::vector<Binding>& bindings = Entry(name, true)->second;
    bindings.clear();
    bindings.push_back({1, value});
}

std::optional<stringW> Processor::EvaluateName(const stringW& name, bool quiet) {
    if (name.empty() || skipping) return std::nullopt;
    SplitName split = Split(name);
    if (!split.prefix.empty()) {
        NameHandler* handler = FindHandler(split.prefix);
        if (!handler) return std::nullopt;
        DelegationGuard guard(*this);
        return handler->GetValue(*this, split.prefix, split.rest, quiet);
    }
    if (const stringW* value = FindVariable(name)) return *value;
    if (!quiet) throw UndefinedName(name);
    return std::nullopt;
}

bool Processor::IsDefined(const stringW& name) {
    if (name.empty()) return false;
    SplitName split = Split(name);
    if (!split.prefix.empty()) {
        NameHandler* handler = FindHandler(split.prefix);
        if (!handler) return false;
        DelegationGuard guard(*this);
        return handler->IsDefined(*this, split.prefix, split.rest);
    }
    return FindVariable(name) != nullptr;
}

void Processor::SetInnermost(const stringW& name, const stringW& value) {
    CountText(value.size());
    const Variables::iterator entry = Entry(name, true);
    std::vector<Binding>& bindings = entry->second;
    const size_t depth = scopes_.size();
    if (!bindings.empty() && bindings.back().depth == depth) {
        bindings.back().value = value;
    } else {
        bindings.push_back({depth, value});
        scopes_.back().push_back(entry);
    }
}

const stringW* Processor::FindVariable(const stringW& name) {
    const Variables::iterator entry = Entry(name, false);
    return entry == variables_.end() || entry->second.empty() ? nullptr : &entry->second.back().value;
}

Processor::Variables::iterator Processor::Entry(const stringW& name, bool create) {
    auto cached = lookup_.find(name);
    if (cached != lookup_.end()) return cached->second;
    auto entry = variables_.find(keystringW(name));
    if (entry == variables_.end()) {
        if (!create) return entry;
        entry = variables_.emplace(keystringW(name), std::vector<Binding>()).first;
    }
    lookup_.emplace(name, entry);
    return entry;
}

std::vector<keystringW> Processor::ListNames(const stringW& pattern) {
    std::vector<keystringW> names;
    if (skipping) return names;
    SplitName split = Split(pattern);
    if (split.prefix.empty()) {
        for (const auto& [name, bindings] : variables_)
            if (!bindings.empty() && MatchWildcard(pattern, name.str())) names.push_back(name);
        return names;
    }
    std::vector<std::pair<keystringW, NameHandler*>> selected;
    if (split.prefix.str().find_first_of(L"?*") == stringW::npos) {
        if (NameHandler* handler = FindHandler(split.prefix)) selected.emplace_back(split.prefix, handler);
    } else {
        for (const auto& [prefix, handler] : handlers)
            if (MatchWildcard(split.prefix.str(), prefix.str())) selected.emplace_back(prefix, handler.get());
    }
    DelegationGuard guard(*this);
    for (const auto& [prefix, handler] : selected)
        for (const keystringW& name : handler->ListNames(*this, prefix, split.rest))
            names.push_back(prefix.str() + name.str());
    std::stable_sort(names.begin(), names.end());
    return names;
}

void Processor::PushScope() { scopes_.emplace_back(); }

void Processor::PopScope() {
    if (scopes_.size() <= 1) return;
    const size_t depth = scopes_.size();
    // An entry may be listed twice, or have been rebound in all scopes since: drop only this depth's.
    for (const Variables::iterator entry : scopes_.back())
        if (!entry->second.empty() && entry->second.back().depth == depth) entry->second.pop_back();
    scopes_.pop_back();
}

bool Processor::MatchWildcard(const stringW& pattern, const stringW& text) {
    const wchar_t* p = pattern.data();
    const size_t pn = pattern.size();
    size_t firstStar = pattern.find(L'*');
    if (firstStar == stringW::npos) return pn == text.size() && SegmentAt(p, pn, text.data());
    // Head before the first star, anchored at the start.
    if (text.size() < firstStar || !SegmentAt(p, firstStar, text.data())) return false;
    size_t t = firstStar;
    size_t lastStar = pattern.rfind(L'*');
    // Middle segments at their first fit from the left.
    size_t seg = firstStar + 1;
    while (seg <= lastStar) {
        size_t next = pattern.find(L'*', seg);
        size_t len = next - seg;
        if (len > 0) {
            bool found = false;
            for (; t + len <= text.size(); ++t) {
                if (SegmentAt(p + seg, len, text.data() + t)) {
                    found = true;
                    break;
                }
            }
            if (!found) return false;
            t += len;
        }
        seg = next + 1;
    }
    // Tail after the last star, anchored at the end and not overlapping what came before.
    size_t tail = pn - lastStar - 1;
    if (text.size() - t < tail) return false;
    return SegmentAt(p + lastStar + 1, tail, text.data() + text.size() - tail);
}

bool Processor::ReportError(const Error& error) {
    if (skipping) return true;
    const auto* expected = dynamic_cast<const SyntaxExpected*>(&error);
    const bool textEnded = expected && expected->textEnded;
    // The constructs around the one that reported the end of the text end unfinished as well.
    if (textEnded && textEndReported_) return true;
    const bool goOn = !errors_ || errors_(source, error);
    // Rethrown, the same error passes every level and is reported at each.
    if (textEnded && goOn) textEndReported_ = true;
    return goOn;
}

// ---- the ":" handler ----

std::vector<keystringW> GlobalMacroNameHandler::ListNames(Processor& processor, const keystringW&, const stringW& pattern) {
    return processor.ListNames(pattern);
}

void GlobalMacroNameHandler::SetValue(Processor& processor, const keystringW&, const stringW& name, const stringW& value) {
    processor.DefineInAllScopes(name, value);
}

bool GlobalMacroNameHandler::IsDefined(Processor& processor, const keystringW&, const stringW& name) {
    return processor.IsDefined(name);
}

stringW GlobalMacroNameHandler::ReadName(Processor& processor, const keystringW&, Pos& pos) {
    stringW rest;
    bool valid = true;
    while (!processor.AtEnd(pos) && *pos != L')')
        if (!processor.ScanName(pos, rest, valid, nullptr)) break;
    if (processor.At(pos) == L')') ++pos;
    return rest;
}

stringW GlobalMacroNameHandler::GetValue(Processor& processor, const keystringW&, const stringW& name, bool quiet) {
    if (processor.skipping) return stringW();
    return processor.EvaluateName(name, quiet).value_or(stringW());
}

}  // namespace MacroProc
