#include "Text.h"
#include <cstdio>

namespace Ledger {

namespace {

// Code points of the bytes 0x80 to 0xFF; 0 where the code page has no character.
const uint16_t kUpper[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0,      0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

uint32_t Cp1251Char(unsigned char byte) {
    if (byte < 0x80) return byte;
    if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);
    return kUpper[byte - 0x80];
}

// One UTF-8 character from `at`: its code point and length; length 0 when it is not UTF-8.
uint32_t NextUtf8(std::string_view text, size_t at, size_t& length) {
    unsigned char lead = text[at];
    size_t count = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    length = 0;
    if (count == 0 || at + count > text.size()) return 0;
    uint32_t cp = count == 1 ? lead : lead & (0x7F >> count);
    for (size_t i = 1; i < count; ++i) {
        unsigned char next = text[at + i];
        if ((next >> 6) != 2) return 0;
        cp = (cp << 6) | (next & 0x3F);
    }
    static const uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[count] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    length = count;
    return cp;
}

}  // namespace

std::optional<std::string> FromCp1251(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        uint32_t cp = Cp1251Char(byte);
        if (byte >= 0x80 && cp == 0) return std::nullopt;
        AppendUtf8(out, cp);
    }
    return out;
}

std::string ToCp1251(std::string_view utf8) {
    std::string out;
    for (size_t at = 0; at < utf8.size();) {
        size_t length = 0;
        uint32_t cp = NextUtf8(utf8, at, length);
        at += length ? length : 1;
        char byte = '?';
        if (length && cp < 0x80) {
            byte = char(cp);
        } else if (length) {
            for (unsigned b = 0x80; b <= 0xFF; ++b)
                if (Cp1251Char(b) == cp) {
                    byte = char(b);
                    break;
                }
        }
        out += byte;
    }
    return out;
}

bool LooksUtf8(std::string_view bytes) {
    bool multiByte = false;
    for (size_t at = 0; at < bytes.size();) {
        size_t length = 0;
        NextUtf8(bytes, at, length);
        if (length == 0) return false;
        multiByte = multiByte || length > 1;
        at += length;
    }
    return multiByte;
}

// Days from civil date, proleptic Gregorian (after H. Hinnant's algorithm).
static int DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int(doe) - 719468;
}

std::optional<int> ParseDay(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
    auto number = [&](size_t at, size_t n) {
        int v = 0;
        for (size_t i = 0; i < n; ++i) v = v * 10 + (text[at + i] - '0');
        return v;
    };
    int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (year < 1970 || month < 1 || month > 12 || day < 1) return std::nullopt;
    if (day > kDays[month - 1] + (month == 2 && leap)) return std::nullopt;
    return DaysFromCivil(year, unsigned(month), unsigned(day));
}

std::string FormatDay(int days) {
    days += 719468;
    const int era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = unsigned(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int y = int(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    char text[32];
    snprintf(text, sizeof text, "%04d-%02u-%02u", y + (m <= 2), m, d);
    return text;
}

std::string FormatClock(int ms) {
    char text[16];
    snprintf(text, sizeof text, "%02d:%02d:%02d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60);
    return text;
}

bool ParseUnsigned(std::string_view text, uint32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > 0xFFFFFFFFull) return false;
    value = uint32_t(v);
    return true;
}

uint64_t Fingerprint(std::string_view bytes, uint64_t seed) {
    uint64_t hash = seed;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace Ledger
