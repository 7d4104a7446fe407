#include "platform/oledate.h"

#include <cmath>
#include <cstdio>

namespace platform {

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
long DaysFromCivil(long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long>(doe) - 719468;
}

void CivilFromDays(long z, int* y, int* m, int* d) {
    z += 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long yy = static_cast<long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    *y = static_cast<int>(yy + (*m <= 2));
}

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

const long kOleEpoch = DaysFromCivil(1899, 12, 30);
// The dates the platform's date type accepts: 100-01-01 .. 9999-12-31.
const double kMinDate = static_cast<double>(DaysFromCivil(100, 1, 1) - kOleEpoch);
const double kMaxDate = static_cast<double>(DaysFromCivil(10000, 1, 1) - kOleEpoch);

}  // namespace

OleDate OleDate::FromLocal(int year, int month, int day, int hour, int minute, int second) {
    OleDate d;
    if (year < 100 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59) {
        d.m_status = kInvalid;
        return d;
    }
    long days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kOleEpoch;
    double frac = (hour * 3600 + minute * 60 + second) / 86400.0;
    // Before the epoch the integer part counts days back and the fraction
    // still runs forward: -1.25 is 29 December 1899, 06:00.
    d.m_dt = days >= 0 ? days + frac : days - frac;
    return d;
}

OleDate OleDate::FromTime(time_t t) {
    struct tm tm {};
    if (!localtime_r(&t, &tm))
        return OleDate{0.0, kInvalid};
    return FromLocal(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                     tm.tm_sec);
}

OleDate OleDate::Now() {
    return FromTime(time(nullptr));
}

bool OleDate::ToLocal(struct tm* out) const {
    if (m_status != kValid || !std::isfinite(m_dt) || m_dt < kMinDate || m_dt >= kMaxDate)
        return false;
    double whole = std::trunc(m_dt);
    long days = static_cast<long>(whole);
    long secs = std::lround(std::fabs(m_dt - whole) * 86400.0);
    if (secs >= 86400) {  // rounding reached the next day
        secs -= 86400;
        days += m_dt >= 0 ? 1 : -1;
    }
    int y, m, d;
    CivilFromDays(days + kOleEpoch, &y, &m, &d);
    *out = {};
    out->tm_year = y - 1900;
    out->tm_mon = m - 1;
    out->tm_mday = d;
    out->tm_hour = static_cast<int>(secs / 3600);
    out->tm_min = static_cast<int>(secs / 60 % 60);
    out->tm_sec = static_cast<int>(secs % 60);
    out->tm_wday = static_cast<int>(((days + kOleEpoch) % 7 + 11) % 7);  // 1970-01-01 was Thursday
    out->tm_isdst = -1;
    return true;
}

time_t OleDate::ToTime() const {
    struct tm tm;
    if (!ToLocal(&tm))
        return -1;
    return mktime(&tm);
}

std::string OleDate::Format() const {
    struct tm tm;
    if (!ToLocal(&tm))
        return "";
    const int year = tm.tm_year + 1900;
    if (year < 0 || year > 9999) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", year, tm.tm_mon + 1,
                      tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
        return buf;
    }
    // "YYYY-MM-DD hh:mm:ss" by hand: a list of 100,000 messages formats
    // 100,000 times.
    std::string out = "0000-00-00 00:00:00";
    auto two = [&](size_t at, int v) {
        out[at] = static_cast<char>('0' + v / 10);
        out[at + 1] = static_cast<char>('0' + v % 10);
    };
    two(0, year / 100);
    two(2, year % 100);
    two(5, tm.tm_mon + 1);
    two(8, tm.tm_mday);
    two(11, tm.tm_hour);
    two(14, tm.tm_min);
    two(17, tm.tm_sec);
    return out;
}

}  // namespace platform
