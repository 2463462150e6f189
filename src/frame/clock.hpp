// The one place that reads the wall clock, and the calendar arithmetic
// every date formatter builds on.
#pragma once

#include <cstdint>
#include <string>

namespace kc {

struct UtcTime {
    std::int64_t seconds = 0;   // since the Unix epoch
    std::uint32_t nanos = 0;    // 0 .. 999,999,999
};

// The current UTC wall-clock time.
UtcTime now_utc();

struct CivilTime {
    std::int64_t year = 1970;  // proleptic Gregorian; may be before 1 or far in the future
    unsigned month = 1;        // 1..12
    unsigned day = 1;          // 1..31
    unsigned hour = 0, minute = 0, second = 0;
};

// Calendar date and time of Unix seconds (UTC). Total for every int64.
CivilTime to_civil(std::int64_t unix_seconds);

// Unix seconds of a calendar date and time (UTC); the inverse of to_civil.
std::int64_t from_civil(const CivilTime& t);

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day);

// Appends "YYYY-MM-DDTHH:MM:SS" (no offset). Years outside 0..9999 take the
// expanded form: an explicit sign and at least four digits.
void append_date_time(std::string& out, const CivilTime& t);

// "YYYY-MM-DDTHH:MM:SSZ", with the year rule of append_date_time.
std::string format_utc_seconds(std::int64_t unix_seconds);

}  // namespace kc
