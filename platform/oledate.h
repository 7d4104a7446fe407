// The platform's OLE automation date: days since 30 December 1899 (the
// fraction is the time of day) plus a status, as the message store keeps it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace platform {

struct OleDate {
    enum Status : int32_t { kValid = 0, kInvalid = 1, kNull = 2 };

    double m_dt = 0.0;
    int32_t m_status = kValid;

    // Local time now, to the second.
    static OleDate Now();
    // From broken-down local time; invalid when a field is out of range or the
    // date is outside 100-01-01 .. 9999-12-31.
    static OleDate FromLocal(int year, int month, int day, int hour, int minute, int second);
    // From a POSIX time, taken as local time.
    static OleDate FromTime(time_t t);

    bool IsValid() const { return m_status == kValid; }
    // Broken-down local time (tm_year is years since 1900, tm_mon 0-based);
    // false when the date is invalid.
    bool ToLocal(struct tm* out) const;
    // Seconds since the epoch, interpreting the date as local time; -1 when invalid.
    time_t ToTime() const;
    // "YYYY-MM-DD HH:MM:SS", or "" when invalid.
    std::string Format() const;

    bool operator==(const OleDate& other) const = default;
};

}  // namespace platform
