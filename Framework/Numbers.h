// Number scanning and the user's number layout.
//
// Format codes of ScanNumber / ScanNumberEx (the whole text must be the number; blanks around it
// are allowed):
//   0  plain decimal: optional sign, digits, optional '.' and digits ("-12", "1234.5", ".5")
//   1  the user's locale: its decimal separator and its thousands separator between digit groups
//   2  plain decimal with ',' as the decimal separator ("12,5"), as people write it in Russian
// The integer forms accept no fraction and fail when the value does not fit.
#pragma once
#include <windows.h>
#include <string>

bool ScanNumber(const std::string& text, double& value, int format);
bool ScanNumberEx(const std::string& text, double& value, int format);
bool ScanNumberEx(const std::string& text, long long& value, int format);

// Tries the formats in the order given; true at the first that accepts the text.
bool ScanNumberAny(const std::string& text, double& value, std::initializer_list<int> formats);
bool ScanNumberAny(const std::string& text, long long& value, std::initializer_list<int> formats);

LCID LocaleLCID();
UINT GroupingFromLocale(const std::string& grouping);  // LOCALE_SGROUPING to NUMBERFMT's Grouping

// NUMBERFMTA with its own separator buffers; copies stay valid on their own.
class LocaleNumberFormat {
public:
    LocaleNumberFormat();  // the user's default number format
    LocaleNumberFormat(const LocaleNumberFormat& other);
    LocaleNumberFormat& operator=(const LocaleNumberFormat& other);
    void SetDecimalSep(const std::string& sep);
    void SetThousandSep(const std::string& sep);
    NUMBERFMTA& Get() { return format_; }
    NUMBERFMTA* operator->() { return &format_; }

private:
    void Repoint();
    NUMBERFMTA format_{};
    std::string decimal_, thousand_;
};
