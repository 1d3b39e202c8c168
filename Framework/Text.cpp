#include "Framework/Text.h"
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

int CompareNoCase(const std::wstring& a, const std::wstring& b) {
    const wchar_t *pa = a.c_str(), *pb = b.c_str();
    const wchar_t *endA = pa + a.size(), *endB = pb + b.size();
    for (;;) {
        // lstrcmpiW stops at the first NUL, which ends each part (the string's own terminator included).
        if (int order = lstrcmpiW(pa, pb)) return order;
        pa += std::wcslen(pa);
        pb += std::wcslen(pb);
        if (pa == endA || pb == endB) return pa == endA ? (pb == endB ? 0 : -1) : 1;
        ++pa, ++pb;
    }
}

bool EqualNoCase(const std::wstring& a, const std::wstring& b) { return CompareNoCase(a, b) == 0; }

std::string Narrow(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Widen(std::string_view text, UINT codePage) {
    if (text.empty()) return {};
    int n = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(size_t(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

std::string FormatBufferV(size_t size, const char* format, va_list args) {
    if (size == 0) return {};
    std::vector<char> buffer(size, '\0');
    int n = vsnprintf(buffer.data(), size, format, args);
    if (n < 0) return {};
    return std::string(buffer.data(), std::min(size_t(n), size - 1));
}

std::string FormatBuffer(size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string out = FormatBufferV(size, format, args);
    va_end(args);
    return out;
}

std::wstring FormatBufferW(size_t size, const wchar_t* format, ...) {
    if (size == 0) return {};
    std::vector<wchar_t> buffer(size, L'\0');
    va_list args;
    va_start(args, format);
    int n = vswprintf(buffer.data(), size, format, args);
    va_end(args);
    // A cut output fails or reports the full length, depending on the runtime; either way the
    // buffer holds what fitted, possibly without its terminating zero.
    buffer[size - 1] = L'\0';
    if (n < 0 || size_t(n) >= size) return std::wstring(buffer.data(), wcsnlen(buffer.data(), size - 1));
    return std::wstring(buffer.data(), size_t(n));
}

bool IsBlank(wchar_t c) { return c == L'\r' || c == L'\n' || c == L'\t' || c == L' '; }

static bool IsBlankChar(wchar_t c) { return IsBlank(c); }
static bool IsBlankChar(char c) { return IsBlank(wchar_t(static_cast<unsigned char>(c))); }

template <class S> static S TrimRight(const S& text) {
    size_t end = text.size();
    while (end > 0 && IsBlankChar(text[end - 1])) --end;
    return text.substr(0, end);
}
template <class S> static S TrimBoth(const S& text) {
    size_t begin = 0;
    while (begin < text.size() && IsBlankChar(text[begin])) ++begin;
    return TrimRight(text.substr(begin));
}
std::wstring trim(const std::wstring& text) { return TrimBoth(text); }
std::wstring rtrim(const std::wstring& text) { return TrimRight(text); }
std::string trim(const std::string& text) { return TrimBoth(text); }
std::string rtrim(const std::string& text) { return TrimRight(text); }

std::wstring CardinalForm(unsigned long long count, const std::wstring& one, const std::wstring& few,
                                 const std::wstring& many) {
    unsigned lastTwo = unsigned(count % 100), last = unsigned(count % 10);
    if (lastTwo >= 11 && lastTwo <= 14) return many;
    if (last == 1) return one;
    if (last >= 2 && last <= 4) return few;
    return many;
}

std::wstring ReplaceEntries(const std::wstring& text, const std::map<std::wstring, std::wstring>& entries) {
    std::wstring out;
    out.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        const std::pair<const std::wstring, std::wstring>* best = nullptr;
        for (const auto& entry : entries)
            if (!entry.first.empty() && entry.first.size() > (best ? best->first.size() : 0) &&
                text.compare(pos, entry.first.size(), entry.first) == 0)
                best = &entry;
        if (best) {
            out += best->second;
            pos += best->first.size();
        } else {
            out += text[pos++];
        }
    }
    return out;
}
