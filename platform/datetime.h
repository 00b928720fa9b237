// Date-time as the program keeps it: days since 30 December 1899 in a
// double, the fraction being the time of day, local time.
#pragma once

#include <QDateTime>
#include <compare>
#include <functional>

class TDateTime {
public:
    constexpr TDateTime() = default;
    constexpr explicit TDateTime(double value) : FValue(value) {}

    constexpr double Value() const { return FValue; }
    constexpr auto operator<=>(const TDateTime&) const = default;
    constexpr TDateTime operator+(double days) const { return TDateTime(FValue + days); }
    constexpr double operator-(TDateTime other) const { return FValue - other.FValue; }

    // Local time; a QDateTime keeps milliseconds, so the conversion rounds to them.
    static TDateTime FromQDateTime(const QDateTime& local);
    QDateTime ToQDateTime() const;

private:
    double FValue = 0;
};

inline constexpr double MSecsPerDay = 86400000.0;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Years 1..9999; hours < 24, minutes and seconds < 60, milliseconds < 1000.
// The throwing forms raise EConvertError "Invalid argument to date encode"
// and "Invalid argument to time encode".
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);

struct TDateParts { int Year, Month, Day; };
struct TTimeParts { int Hour, Min, Sec, MSec; };
TDateParts DecodeDate(TDateTime value);
TTimeParts DecodeTime(TDateTime value);

// The local clock, replaceable so tests can fix "now".
using TClockFunction = std::function<TDateTime()>;
TDateTime Now();
TDateTime Today();
void SetClock(TClockFunction clock); // an empty function restores the system clock
