#pragma once

#include <QDateTime>
#include <QStringList>
#include <array>
#include <bitset>
#include <optional>

// When in the week browsing is allowed, to the minute: a set of spans such as
// "mon-fri 07:30-20:00" or "sat,sun 09:00-21:00". A schedule without spans allows every minute
// (no rule); the keeper combines the schedules of an account's groups with Intersect().
class TSchedule
{
public:
    // Days are mon tue wed thu fri sat sun, in lists and ranges ("mon,wed-fri"; "sat-mon"
    // wraps over the week's end); times are HH:MM-HH:MM with the end after the start, 24:00
    // as an end. Nothing on a bad span, with `error` naming it.
    static std::optional<TSchedule> Parse(const QStringList &spans, QString *error);

    bool IsRule() const { return m_rule; }
    bool Allows(const QDateTime &local) const;
    // The first minute from `local` on (itself when it is allowed) that the schedule allows,
    // looking at most 8 days ahead; invalid when none is.
    QDateTime NextOpening(const QDateTime &local) const;
    // Allowed only where both allow.
    TSchedule Intersect(const TSchedule &other) const;

private:
    static constexpr int MinutesPerDay = 24 * 60;
    bool allowsMinute(int dayIndex, int minute) const;

    bool m_rule = false;
    // Monday first.
    std::array<std::bitset<MinutesPerDay>, 7> m_days;
};
