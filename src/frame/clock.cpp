#include "frame/clock.hpp"

#include <chrono>

#include "frame/text.hpp"

namespace kc {

UtcTime now_utc() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
    UtcTime t;
    t.seconds = ns / 1'000'000'000;
    std::int64_t rem = ns % 1'000'000'000;
    if (rem < 0) {
        rem += 1'000'000'000;
        t.seconds -= 1;
    }
    t.nanos = static_cast<std::uint32_t>(rem);
    return t;
}

// Howard Hinnant's civil-from-days, in 128-bit-safe steps: every int64 of
// seconds maps to a date without overflow.
CivilTime to_civil(std::int64_t unix_seconds) {
    std::int64_t days = unix_seconds / 86400;
    std::int64_t secs = unix_seconds % 86400;
    if (secs < 0) {
        secs += 86400;
        days -= 1;
    }
    CivilTime t;
    t.hour = static_cast<unsigned>(secs / 3600);
    t.minute = static_cast<unsigned>(secs % 3600 / 60);
    t.second = static_cast<unsigned>(secs % 60);
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;                                   // [0, 146096]
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);             // [0, 365]
    const std::int64_t mp = (5 * doy + 2) / 153;                                  // [0, 11]
    t.day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
    t.year = yoe + era * 400 + (t.month <= 2 ? 1 : 0);
    return t;
}

std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yoe = year - era * 400;
    const std::int64_t mp = month > 2 ? month - 3 : month + 9;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::int64_t from_civil(const CivilTime& t) {
    return days_from_civil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
}

static void two_digits(std::string& out, unsigned v) {
    out.push_back(static_cast<char>('0' + v / 10 % 10));
    out.push_back(static_cast<char>('0' + v % 10));
}

void append_date_time(std::string& out, const CivilTime& t) {
    if (t.year >= 0 && t.year <= 9999) {
        std::string y = cat(t.year);
        out.append(4 - y.size(), '0');
        out += y;
    } else {
        // ISO 8601 expanded years: explicit sign, at least four digits.
        out.push_back(t.year < 0 ? '-' : '+');
        std::uint64_t mag = t.year < 0 ? 0 - static_cast<std::uint64_t>(t.year) : static_cast<std::uint64_t>(t.year);
        std::string y = cat(mag);
        if (y.size() < 4) out.append(4 - y.size(), '0');
        out += y;
    }
    out.push_back('-');
    two_digits(out, t.month);
    out.push_back('-');
    two_digits(out, t.day);
    out.push_back('T');
    two_digits(out, t.hour);
    out.push_back(':');
    two_digits(out, t.minute);
    out.push_back(':');
    two_digits(out, t.second);
}

std::string format_utc_seconds(std::int64_t unix_seconds) {
    std::string out;
    append_date_time(out, to_civil(unix_seconds));
    out.push_back('Z');
    return out;
}

}  // namespace kc
