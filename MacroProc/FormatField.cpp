#include "MacroProc/MacroProc.h"
#include "Framework/Numbers.h"
#include <algorithm>
#include <cmath>
#include <vector>

namespace MacroProc {

namespace {

// Integer options beyond this would only make a field allocate without bound.
constexpr double kOptionLimit = 1000000;
// "%.*f" of a double needs no more decimals than this to be exact.
constexpr int kMaxPrecision = 340;
const wchar_t kEllipsis = L'\x2026';
// GetNumberFormat takes a decimal separator of at most this many characters.
constexpr size_t kMaxDecimalSep = 3;

const stringW* Find(const Params& options, const wchar_t* name) {
    for (const auto& [key, value] : options)
        if (SameWord(key.str(), name)) return &value;
    return nullptr;
}

// The user's number layout, read once.
const LocaleNumberFormat& UserNumberFormat() {
    static const LocaleNumberFormat format;
    return format;
}

bool Is(const stringW* value, const wchar_t* word) { return value && EqualNoCase(*value, word); }

std::optional<int> IntOption(const Params& options, const wchar_t* name) {
    const stringW* value = Find(options, name);
    if (!value || value->empty()) return std::nullopt;
    double number = 0;
    if (!ScanNumberAny(Narrow(*value), number, {0, 2, 1}) || std::isnan(number)) return std::nullopt;
    number = std::trunc(std::max(-kOptionLimit, std::min(kOptionLimit, number)));
    return int(number);
}

size_t LeadingBlanks(const stringW& text) {
    size_t n = 0;
    while (n < text.size() && IsSpace(text[n])) ++n;
    return n;
}

size_t TrailingBlanks(const stringW& text) {
    size_t lead = LeadingBlanks(text), n = 0;
    while (n < text.size() - lead && IsSpace(text[text.size() - 1 - n])) ++n;
    return n;
}

void DropLeading(stringW& text, size_t count) { text.erase(0, count); }
void DropTrailing(stringW& text) { text.resize(text.size() - TrailingBlanks(text)); }

enum class Side { None, Left, Right };

void FormatNumber(const Params& options, std::optional<int> prec, stringW& text) {
    const size_t lead = LeadingBlanks(text), trail = TrailingBlanks(text);
    const stringW core = text.substr(lead, text.size() - lead - trail);
    double number = 0;
    if (!ScanNumberAny(Narrow(core), number, {0, 2, 1}) || !std::isfinite(number)) return;
    const stringW* sep = Find(options, L"sep");
    const std::string decimalSep = sep ? Narrow(*sep) : std::string();
    // A longer separator is refused like a failed formatting: the text stays as it was.
    if (decimalSep.size() > kMaxDecimalSep) return;
    const std::string printed = prec ? FormatBuffer(4096, "%.*f", std::min(*prec, kMaxPrecision), number)
                                     : FormatBuffer(4096, "%f", number);
    LocaleNumberFormat format = UserNumberFormat();
    if (prec) format->NumDigits = UINT(std::clamp(*prec, 0, kMaxPrecision));
    format->Grouping = 0;
    format->NegativeOrder = 1;
    if (!decimalSep.empty()) format.SetDecimalSep(decimalSep);
    std::vector<char> buffer(4096);
    int n = GetNumberFormatA(LocaleLCID(), 0, printed.c_str(), &format.Get(), buffer.data(), int(buffer.size()));
    if (n <= 0) return;
    text = text.substr(0, lead) + Widen(std::string_view(buffer.data(), size_t(n - 1))) +
           text.substr(text.size() - trail);
}

}  // namespace

stringW FormatField(const Params& options, const stringW& input) {
    stringW text = input;

    const std::optional<int> prec = IntOption(options, L"prec");
    if (Find(options, L"sep") || prec) FormatNumber(options, prec, text);

    const stringW* align = Find(options, L"align");
    const Side side = Is(align, L"left") ? Side::Left : Is(align, L"right") ? Side::Right : Side::None;

    const stringW* trim = Find(options, L"trim");
    if (Is(trim, L"left")) {
        DropLeading(text, LeadingBlanks(text));
    } else if (Is(trim, L"right")) {
        DropTrailing(text);
    } else if (trim && (trim->empty() || Is(trim, L"all") || Is(trim, L"both"))) {
        DropTrailing(text);
        DropLeading(text, LeadingBlanks(text));
    } else if (side != Side::None) {
        const size_t lead = LeadingBlanks(text), trail = TrailingBlanks(text);
        const stringW blanks = text.substr(0, lead) + text.substr(text.size() - trail);
        const stringW core = text.substr(lead, text.size() - lead - trail);
        text = side == Side::Left ? core + blanks : blanks + core;
    }

    const std::optional<int> maxlen = IntOption(options, L"maxlen");
    if (maxlen && *maxlen >= 0 && text.size() > size_t(*maxlen)) {
        const size_t n = size_t(*maxlen);
        if (n == 0) {
            text.clear();
        } else if (n == 1) {
            text.assign(1, kEllipsis);
        } else {
            if (side != Side::Left) DropTrailing(text);
            if (text.size() > n) DropLeading(text, std::min(LeadingBlanks(text), text.size() - n));
            if (text.size() > n && side == Side::Left) DropTrailing(text);
            if (text.size() > n) {
                const size_t h = side == Side::Right ? (n - 1) / 2 : n / 2;
                const size_t t = n - h - 1;
                text = text.substr(0, h) + kEllipsis + text.substr(text.size() - t);
            }
        }
    }

    std::optional<int> width = IntOption(options, L"width");
    if (width && *width > 0) {
        size_t w = size_t(*width);
        if (maxlen && *maxlen >= 0) w = std::min(w, size_t(*maxlen));
        if (text.size() < w) {
            if (side == Side::Right)
                text.insert(0, w - text.size(), L' ');
            else
                text.append(w - text.size(), L' ');
        }
    }

    const stringW* letterCase = Find(options, L"case");
    if (!text.empty()) {
        if (Is(letterCase, L"upper")) {
            CharUpperBuffW(text.data(), DWORD(text.size()));
        } else if (Is(letterCase, L"lower")) {
            CharLowerBuffW(text.data(), DWORD(text.size()));
        } else if (Is(letterCase, L"capital")) {
            CharLowerBuffW(text.data(), DWORD(text.size()));
            CharUpperBuffW(text.data(), 1);
        }
    }

    const stringW* fold = Find(options, L"fold");
    if (fold && (fold->empty() || Is(fold, L"auto")) && LeadingBlanks(text) == text.size()) text.clear();
    return text;
}

}  // namespace MacroProc
