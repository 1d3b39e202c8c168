// Text helpers of the ledger: the terminals' Windows-1251 and the calendar of log days.
#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace Ledger {

// A failure that a person reads: what failed, and why.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Windows-1251 bytes as UTF-8; nullopt when a byte has no character in that code page (0x98).
std::optional<std::string> FromCp1251(std::string_view bytes);
// UTF-8 as Windows-1251; characters outside the code page become '?'.
std::string ToCp1251(std::string_view utf8);
// Whether the bytes are valid UTF-8 holding at least one multi-byte character: text that a
// terminal never writes, since its Cyrillic in Windows-1251 is never valid UTF-8.
bool LooksUtf8(std::string_view bytes);

// Days since 1970-01-01 of a "YYYY-MM-DD" text; nullopt when it is no calendar date.
std::optional<int> ParseDay(std::string_view text);
std::string FormatDay(int days);
// "HH:MM:SS" of milliseconds since midnight (a day or more is written from 24:00 on).
std::string FormatClock(int ms);

bool ParseUnsigned(std::string_view text, uint32_t& value);

// FNV-1a: tells a log file rewritten under the ledger from one that only grew.
uint64_t Fingerprint(std::string_view bytes, uint64_t seed = 1469598103934665603ull);

}  // namespace Ledger
