#include "Framework/Numbers.h"
#include "Framework/Text.h"
#include <cerrno>
#include <cstdlib>

namespace {
std::string LocaleInfo(LCTYPE type, const char* fallback) {
    char buffer[16] = {};
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer) <= 0) return fallback;
    return buffer;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reduces `text` in the given format to the plain "C" form "-123.45"; false when it is no number.
bool Normalize(const std::string& text, int format, bool integer, std::string& plain) {
    std::string s = trim(text);
    std::string decimal = ".", group;
    if (format == 1) {
        decimal = LocaleInfo(LOCALE_SDECIMAL, ".");
        group = LocaleInfo(LOCALE_STHOUSAND, "");
    } else if (format == 2) {
        decimal = ",";
    } else if (format != 0) {
        return false;
    }
    size_t i = 0;
    plain.clear();
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) plain += s[i++];
    size_t intDigits = 0, fracDigits = 0;
    bool seenDecimal = false;
    while (i < s.size()) {
        if (IsDigit(s[i])) {
            plain += s[i++];
            (seenDecimal ? fracDigits : intDigits)++;
        } else if (!seenDecimal && !decimal.empty() && s.compare(i, decimal.size(), decimal) == 0) {
            if (integer) return false;
            seenDecimal = true;
            plain += '.';
            i += decimal.size();
        } else if (!seenDecimal && !group.empty() && intDigits > 0 && s.compare(i, group.size(), group) == 0 &&
                   i + group.size() < s.size() && IsDigit(s[i + group.size()])) {
            i += group.size();  // a digit group separator between digits
        } else {
            return false;
        }
    }
    return intDigits + fracDigits > 0;
}
}  // namespace

bool ScanNumberEx(const std::string& text, double& value, int format) {
    std::string plain;
    if (!Normalize(text, format, false, plain)) return false;
    errno = 0;
    char* end = nullptr;
    double result = strtod(plain.c_str(), &end);
    if (end != plain.c_str() + plain.size() || errno == ERANGE) return false;
    value = result;
    return true;
}

bool ScanNumberEx(const std::string& text, long long& value, int format) {
    std::string plain;
    if (!Normalize(text, format, true, plain)) return false;
    errno = 0;
    char* end = nullptr;
    long long result = strtoll(plain.c_str(), &end, 10);
    if (end != plain.c_str() + plain.size() || errno == ERANGE) return false;
    value = result;
    return true;
}

bool ScanNumber(const std::string& text, double& value, int format) { return ScanNumberEx(text, value, format); }

bool ScanNumberAny(const std::string& text, double& value, std::initializer_list<int> formats) {
    for (int format : formats)
        if (ScanNumberEx(text, value, format)) return true;
    return false;
}

bool ScanNumberAny(const std::string& text, long long& value, std::initializer_list<int> formats) {
    for (int format : formats)
        if (ScanNumberEx(text, value, format)) return true;
    return false;
}

// The locale writes "3;0" for groups of three and "3;2;0" for three then twos; the number format
// wants 3 and 32. Without the closing ";0" the last group does not repeat, which is a trailing 0.
UINT GroupingFromLocale(const std::string& grouping) {
    std::string digits;
    for (char c : grouping)
        if (IsDigit(c)) digits += c;
    bool repeats = grouping.size() >= 2 && grouping.compare(grouping.size() - 2, 2, ";0") == 0;
    if (repeats) digits.pop_back();
    else if (!digits.empty() && digits != "0") digits += '0';
    return digits.empty() || digits.size() > 9 ? 0 : UINT(atoi(digits.c_str()));
}

LCID LocaleLCID() { return GetUserDefaultLCID(); }

LocaleNumberFormat::LocaleNumberFormat() {
    format_.NumDigits = UINT(atoi(LocaleInfo(LOCALE_IDIGITS, "2").c_str()));
    format_.LeadingZero = UINT(atoi(LocaleInfo(LOCALE_ILZERO, "1").c_str()));
    format_.Grouping = GroupingFromLocale(LocaleInfo(LOCALE_SGROUPING, "3;0"));
    format_.NegativeOrder = UINT(atoi(LocaleInfo(LOCALE_INEGNUMBER, "1").c_str()));
    decimal_ = LocaleInfo(LOCALE_SDECIMAL, ".");
    thousand_ = LocaleInfo(LOCALE_STHOUSAND, " ");
    Repoint();
}

LocaleNumberFormat::LocaleNumberFormat(const LocaleNumberFormat& other)
    : format_(other.format_), decimal_(other.decimal_), thousand_(other.thousand_) {
    Repoint();
}

LocaleNumberFormat& LocaleNumberFormat::operator=(const LocaleNumberFormat& other) {
    format_ = other.format_;
    decimal_ = other.decimal_;
    thousand_ = other.thousand_;
    Repoint();
    return *this;
}

void LocaleNumberFormat::SetDecimalSep(const std::string& sep) {
    decimal_ = sep;
    Repoint();
}

void LocaleNumberFormat::SetThousandSep(const std::string& sep) {
    thousand_ = sep;
    Repoint();
}

void LocaleNumberFormat::Repoint() {
    format_.lpDecimalSep = decimal_.data();
    format_.lpThousandSep = thousand_.data();
}
