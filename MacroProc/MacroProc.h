// The template processor: a single-pass scanner over the template language with variable scopes,
// name handlers by prefix, blocks and field formatting. One processor per generated text.
#pragma once
#include "Framework/Exceptions.h"
#include "Framework/Text.h"
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace MacroProc {

// A position in the template text; scan operations advance it past what they consumed.
using Pos = const wchar_t*;

// Template errors: the reason is the Russian message.
class Error : public VMAppException {
public:
    explicit Error(const std::wstring& message) : VMAppException(message) {}
};
class IllegalName : public Error {
public:
    explicit IllegalName(const stringW& name);
};
class UndefinedName : public Error {
public:
    explicit UndefinedName(const stringW& name);
};
class SyntaxExpected : public Error {
public:
    // `textEnded`: the text ended before the element, so every enclosing construct ends unfinished
    // too; only the innermost one reports it.
    explicit SyntaxExpected(const stringW& element, bool textEnded = false);
    bool textEnded;
};
class SyntaxUnexpected : public Error {
public:
    explicit SyntaxUnexpected(const stringW& element);
};
class UnknownNamePrefix : public Error {
public:
    explicit UnknownNamePrefix(const stringW& prefix);
};
// The template nests deeper, repeats more or makes more text than the scanner allows. No construct
// recovers from it: the whole template is abandoned and the error reported once.
class LimitExceeded : public Error {
public:
    enum Kind { Nesting, Repetition, Text };
    explicit LimitExceeded(Kind kind);
};

// Deepest nesting of names, blocks and prefix delegations; each level costs stack.
constexpr size_t kMaxNesting = 256;
// Most loop-body passes of all "for" blocks of one template together.
constexpr size_t kMaxLoopPasses = 1000000;
// Most characters that one template may make the processor write: output, names, values and
// variables, counted as they are written. Bounds both the memory and the work of a template.
constexpr size_t kMaxText = 16 * 1024 * 1024;

class Processor;

// Where a processor's template errors go, with the name of the source that made them. The answer
// says whether the template goes on: true handles the error where it happened, false sends it on
// to the processor's caller. Without a sink every error is handled and goes nowhere.
using ErrorSink = std::function<bool(const stringW& source, const Error& error)>;

class Context {
public:
    Context(Processor& processor, unsigned kind) : processor(processor), kind(kind) {}
    virtual ~Context() = default;
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    // Appends what the construct at `pos` produces to `out`.
    virtual void Scan(Pos& pos, stringW& out) = 0;
    virtual bool HandleError(const Error& error, Pos pos);

    Processor& processor;
    const unsigned kind;  // 0 top, 1 name, 2 block
};

class TopContext : public Context {
public:
    explicit TopContext(Processor& processor) : Context(processor, 0) {}
    void Scan(Pos& pos, stringW& out) override;
};

class NameContext : public Context {
public:
    explicit NameContext(Processor& processor) : Context(processor, 1) {}
    void Scan(Pos& pos, stringW& out) override;
    bool HandleError(const Error& error, Pos pos) override;

    stringW name;
    Pos segmentStart = nullptr;
    bool valid = true;
};

using Params = std::map<keystringW, stringW>;

class BlockContext : public Context {
public:
    explicit BlockContext(Processor& processor);
    ~BlockContext() override;
    void Scan(Pos& pos, stringW& out) override;

    Params params;
    bool passThrough = false;
    bool formatted = false;
    bool savedSkipping;
    bool scopePushed = false;
    bool isFor = false;
    keystringW loopVariable;
    stringW loopPattern;

private:
    void ScanBlockHeader(Pos& pos);
    void ScanCondition(Pos& pos, unsigned kind, bool sense);
    size_t ScanParams(Pos& pos, Params& params);
    bool ExpectColon(Pos& pos);
    void ScanBlockBody(Pos& pos, stringW& out);
    // Handles a template error at this level; false when it must travel on.
    bool Settle(const Error& error, Pos pos);
};

// Takes over every name with its prefix ("var:x" under "var:"). `name` is the part after the prefix.
class NameHandler {
public:
    virtual ~NameHandler() = default;
    virtual std::vector<keystringW> ListNames(Processor& processor, const keystringW& prefix, const stringW& pattern) = 0;
    virtual void SetValue(Processor& processor, const keystringW& prefix, const stringW& name, const stringW& value) = 0;
    virtual bool IsDefined(Processor& processor, const keystringW& prefix, const stringW& name) = 0;
    // Reads the rest of a reference from the template and consumes its closing ")".
    virtual stringW ReadName(Processor& processor, const keystringW& prefix, Pos& pos) = 0;
    virtual stringW GetValue(Processor& processor, const keystringW& prefix, const stringW& name, bool quiet) = 0;
};

// ":" names reach the plain variables; a ":" definition is made in every scope.
class GlobalMacroNameHandler : public NameHandler {
public:
    std::vector<keystringW> ListNames(Processor& processor, const keystringW& prefix, const stringW& pattern) override;
    void SetValue(Processor& processor, const keystringW& prefix, const stringW& name, const stringW& value) override;
    bool IsDefined(Processor& processor, const keystringW& prefix, const stringW& name) override;
    stringW ReadName(Processor& processor, const keystringW& prefix, Pos& pos) override;
    stringW GetValue(Processor& processor, const keystringW& prefix, const stringW& name, bool quiet) override;
};

class Processor {
public:
    explicit Processor(const stringW& source, ErrorSink errors = nullptr);
    ~Processor();
    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;

    stringW Process(const stringW& text);

    void Define(const stringW& name, const stringW& value);
    void AddHandler(const keystringW& prefix, std::shared_ptr<NameHandler> handler);
    std::optional<stringW> EvaluateName(const stringW& name, bool quiet);
    bool IsDefined(const stringW& name);
    std::vector<keystringW> ListNames(const stringW& pattern);
    void PushScope();
    void PopScope();
    static bool MatchWildcard(const stringW& pattern, const stringW& text);

    // Sets a plain variable in every scope, innermost to outermost.
    void DefineInAllScopes(const stringW& name, const stringW& value);

    // Scanner operations, also for name handlers reading names from the template.
    Context* OpenContext(unsigned kind);
    void CloseContextsAbove(Context* context);
    Context* TopOfStack() const { return contexts.empty() ? nullptr : contexts.back().get(); }
    void ScanEscape(Pos& pos, stringW& out);
    bool ScanName(Pos& pos, stringW& name, bool& valid, const wchar_t* extraTerminators);
    stringW ScanIdentifier(Pos& pos);
    stringW ScanIdentifier(Pos& pos, bool& valid);  // reports nothing; `valid` tells
    stringW ScanValue(Pos& pos, const wchar_t* extraTerminators);
    stringW ScanQuoted(Pos& pos);
    void SkipSpace(Pos& pos);
    void SkipHeader(Pos& pos);
    bool ReportError(const Error& error);

    bool AtEnd(Pos pos) const { return pos >= end_; }
    // The character at `pos`, or 0 at the end of the text (the text itself may hold zeros).
    wchar_t At(Pos pos, size_t offset = 0) const { return end_ - pos > ptrdiff_t(offset) ? pos[offset] : L'\0'; }
    Pos End() const { return end_; }
    // Counts one loop-body pass; too many raise LimitExceeded.
    void CountLoopPass();
    // Counts characters written on behalf of the template; more than kMaxText raise LimitExceeded.
    // What the client defines outside Process is not the template's.
    void CountText(size_t chars) {
        if (contexts.empty()) return;
        if (chars > kMaxText - textWritten_) throw LimitExceeded(LimitExceeded::Text);
        textWritten_ += chars;
    }
    // Appends with CountText: every text the scanner builds grows through these.
    void Append(stringW& out, std::wstring_view text) {
        CountText(text.size());
        out.append(text);
    }
    void Append(stringW& out, Pos from, Pos until) { Append(out, std::wstring_view(from, size_t(until - from))); }
    void Append(stringW& out, wchar_t c) { Append(out, std::wstring_view(&c, 1)); }

    std::map<keystringW, std::shared_ptr<NameHandler>> handlers;
    std::vector<std::unique_ptr<Context>> contexts;
    stringW source;
    bool skipping = false;
    bool dropUndefinedEscapes = false;

    size_t ScopeDepth() const { return scopes_.size(); }

private:
    // Scopes are layers over one map instead of copies: a name's bindings stack up by scope depth,
    // the innermost binding is what the innermost scope sees, and a scope drops the bindings it
    // made when it is popped. Pushing a scope costs nothing, popping costs what it bound.
    struct Binding {
        size_t depth;  // 1 for the outermost scope
        stringW value;
    };
    using Variables = std::map<keystringW, std::vector<Binding>>;
    friend class DelegationGuard;
    // The visible value of a plain variable, or null.
    const stringW* FindVariable(const stringW& name);
    // The map entry of a name, through a cache of exact spellings: the case-insensitive
    // comparisons of the map are the slowest part of evaluating a name. Entries are never erased,
    // so cached iterators stay valid.
    Variables::iterator Entry(const stringW& name, bool create);
    void SetInnermost(const stringW& name, const stringW& value);

    Variables variables_;
    std::vector<std::vector<Variables::iterator>> scopes_;  // per scope, the entries it bound
    std::unordered_map<stringW, Variables::iterator> lookup_;
    NameHandler* FindHandler(const keystringW& prefix) const;

    ErrorSink errors_;
    Pos end_ = nullptr;
    size_t delegationDepth_ = 0;
    size_t loopPasses_ = 0;
    size_t textWritten_ = 0;
    bool textEndReported_ = false;
};

// Formats a field block's text by its options.
stringW FormatField(const Params& options, const stringW& text);

// Keywords and option names are lower-case ASCII words; they compare without the locale.
bool SameWord(const stringW& text, const wchar_t* word);
bool IsNameChar(wchar_t c);
bool IsNameStart(wchar_t c);
bool IsSpace(wchar_t c);

}  // namespace MacroProc
