#include "platform/datetime.h"

#include "platform/errors.h"

#include <cmath>

namespace {

constexpr qint64 MSecsPerDayInt = 86400000;

TClockFunction& Clock()
{
    static TClockFunction clock;
    return clock;
}

// Days from 1 January of year 1 (proleptic Gregorian) to 30 December 1899.
constexpr qint64 DateDelta = 693593;

qint64 DaysBeforeYear(int year)
{
    const qint64 y = year - 1;
    return y * 365 + y / 4 - y / 100 + y / 400;
}

} // namespace

bool IsLeapYear(int year)
{
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month)
{
    static constexpr int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return days[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result)
{
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return false;
    qint64 days = DaysBeforeYear(year);
    for (int m = 1; m < month; ++m)
        days += DaysInMonth(year, m);
    days += day - 1;
    result = TDateTime(double(days - DateDelta));
    return true;
}

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result)
{
    if (hour < 0 || hour >= 24 || min < 0 || min >= 60 || sec < 0 || sec >= 60 || msec < 0 || msec >= 1000)
        return false;
    const qint64 ms = ((qint64(hour) * 60 + min) * 60 + sec) * 1000 + msec;
    result = TDateTime(double(ms) / MSecsPerDay);
    return true;
}

TDateTime EncodeDate(int year, int month, int day)
{
    TDateTime result;
    if (!TryEncodeDate(year, month, day, result))
        throw EConvertError(QStringLiteral("Invalid argument to date encode"));
    return result;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec)
{
    TDateTime result;
    if (!TryEncodeTime(hour, min, sec, msec, result))
        throw EConvertError(QStringLiteral("Invalid argument to time encode"));
    return result;
}

// Split into whole days and milliseconds of the day the way the value is
// meant: for dates before 1899 the fraction still counts forward from midnight.
static void Split(TDateTime value, qint64& days, qint64& msOfDay)
{
    const qint64 total = std::llround(value.Value() * MSecsPerDay);
    days = total / MSecsPerDayInt;
    msOfDay = (total < 0 ? -total : total) % MSecsPerDayInt;
}

TDateParts DecodeDate(TDateTime value)
{
    qint64 days, ms;
    Split(value, days, ms);
    qint64 n = days + DateDelta; // days since 1 January of year 1
    if (n < 0)
        return {0, 0, 0};
    int year = int(n / 366) + 1;
    while (DaysBeforeYear(year + 1) <= n)
        ++year;
    n -= DaysBeforeYear(year);
    int month = 1;
    while (n >= DaysInMonth(year, month)) {
        n -= DaysInMonth(year, month);
        ++month;
    }
    return {year, month, int(n) + 1};
}

TTimeParts DecodeTime(TDateTime value)
{
    qint64 days, ms;
    Split(value, days, ms);
    const int msec = int(ms % 1000);
    ms /= 1000;
    return {int(ms / 3600), int(ms / 60 % 60), int(ms % 60), msec};
}

TDateTime TDateTime::FromQDateTime(const QDateTime& local)
{
    const QDateTime l = local.toLocalTime();
    const QDate d = l.date();
    const QTime t = l.time();
    TDateTime date, time;
    TryEncodeDate(d.year(), d.month(), d.day(), date);
    TryEncodeTime(t.hour(), t.minute(), t.second(), t.msec(), time);
    return TDateTime(date.Value() + (date.Value() < 0 ? -time.Value() : time.Value()));
}

QDateTime TDateTime::ToQDateTime() const
{
    const TDateParts d = DecodeDate(*this);
    const TTimeParts t = DecodeTime(*this);
    return QDateTime(QDate(d.Year, d.Month, d.Day), QTime(t.Hour, t.Min, t.Sec, t.MSec));
}

TDateTime Now()
{
    if (Clock())
        return Clock()();
    return TDateTime::FromQDateTime(QDateTime::currentDateTime());
}

TDateTime Today()
{
    return TDateTime(std::floor(Now().Value()));
}

void SetClock(TClockFunction clock)
{
    Clock() = std::move(clock);
}
