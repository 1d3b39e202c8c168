// Text helpers: wide strings, case-insensitive keys, code-page conversion, safe formatting.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <string_view>

using stringW = std::wstring;

// lstrcmpiW order extended past NULs: the texts compare part by part between NULs, and a text that
// ends where the other goes on is the smaller.
int CompareNoCase(const std::wstring& a, const std::wstring& b);
bool EqualNoCase(const std::wstring& a, const std::wstring& b);

// A name compared and ordered without regard to case, in lstrcmpiW order, over the whole string:
// a NUL inside is ordinary text. It is not a std::wstring, so that no comparison can fall back to
// the case-sensitive one; str() gives the text for everything else.
class keystringW {
public:
    keystringW() = default;
    keystringW(const wchar_t* text) : text_(text) {}
    keystringW(std::wstring text) : text_(std::move(text)) {}
    const std::wstring& str() const { return text_; }
    bool empty() const { return text_.empty(); }
    friend bool operator<(const keystringW& a, const keystringW& b) { return CompareNoCase(a.text_, b.text_) < 0; }
    friend bool operator==(const keystringW& a, const keystringW& b) { return CompareNoCase(a.text_, b.text_) == 0; }

private:
    std::wstring text_;
};

// Code-page conversion. Narrow texts of the system are in the ANSI code page unless told otherwise;
// characters that the code page lacks become '?'.
std::string Narrow(std::wstring_view text, UINT codePage = CP_ACP);
std::wstring Widen(std::string_view text, UINT codePage = CP_ACP);
// The plugin's own narrow texts (log records, report files) are Windows-1251 on every machine,
// whatever its ANSI code page.
constexpr UINT kTextCodePage = 1251;
inline std::string Narrow1251(std::wstring_view text) { return Narrow(text, kTextCodePage); }
inline std::wstring Widen1251(std::string_view text) { return Widen(text, kTextCodePage); }

// printf into a buffer of `size` bytes (terminating zero included); longer output is cut, never overflows.
std::string FormatBuffer(size_t size, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string FormatBufferV(size_t size, const char* format, va_list args);
std::wstring FormatBufferW(size_t size, const wchar_t* format, ...);

// White space is CR, LF, TAB and blank.
bool IsBlank(wchar_t c);
std::wstring trim(const std::wstring& text);
std::wstring rtrim(const std::wstring& text);
std::string trim(const std::string& text);
std::string rtrim(const std::string& text);

// The Russian noun form for a count: 1 купюра, 2 купюры, 5 купюр, 11 купюр, 21 купюра.
std::wstring CardinalForm(unsigned long long count, const std::wstring& one, const std::wstring& few,
                                 const std::wstring& many);

// Replaces every occurrence of each key by its value in one left-to-right pass; at one position
// the longest key wins, and replaced text is not scanned again.
std::wstring ReplaceEntries(const std::wstring& text, const std::map<std::wstring, std::wstring>& entries);
