#include "common/timerules.h"

#include <QRegularExpression>

namespace {

int dayIndex(const QString &name)
{
    static const QStringList names = {
        QStringLiteral("mon"), QStringLiteral("tue"), QStringLiteral("wed"), QStringLiteral("thu"),
        QStringLiteral("fri"), QStringLiteral("sat"), QStringLiteral("sun")};
    return int(names.indexOf(name));
}

// Minutes since midnight, or -1. 24:00 only where `endOfDay` may be given.
int minuteOfDay(const QString &text, bool endOfDay)
{
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,2}):([0-9]{2})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return -1;
    const int hour = match.captured(1).toInt();
    const int minute = match.captured(2).toInt();
    if (minute > 59)
        return -1;
    if (hour == 24 && minute == 0 && endOfDay)
        return 24 * 60;
    if (hour > 23)
        return -1;
    return hour * 60 + minute;
}

} // namespace

std::optional<TSchedule> TSchedule::Parse(const QStringList &spans, QString *error)
{
    TSchedule schedule;
    schedule.m_rule = !spans.isEmpty();
    for (const QString &span : spans) {
        const auto bad = [&](const QString &why) {
            if (error)
                *error = QStringLiteral("schedule span \"%1\": %2").arg(span, why);
            return std::nullopt;
        };
        const QStringList parts = span.simplified().toLower().split(QLatin1Char(' '));
        if (parts.size() != 2 || parts.at(0).isEmpty())
            return bad(QStringLiteral("expected days and hours, as in \"mon-fri 07:30-20:00\""));

        std::bitset<7> days;
        for (const QString &item : parts.at(0).split(QLatin1Char(','))) {
            const QStringList ends = item.split(QLatin1Char('-'));
            if (ends.size() > 2)
                return bad(QStringLiteral("\"%1\" is not a day or a range of days").arg(item));
            const int first = dayIndex(ends.at(0));
            const int last = dayIndex(ends.value(ends.size() - 1));
            if (first < 0 || last < 0)
                return bad(QStringLiteral("\"%1\" is not a day (mon tue wed thu fri sat sun)")
                               .arg(first < 0 ? ends.at(0) : ends.at(1)));
            for (int day = first;; day = (day + 1) % 7) {
                days.set(size_t(day));
                if (day == last)
                    break;
            }
        }

        const QStringList hours = parts.at(1).split(QLatin1Char('-'));
        if (hours.size() != 2)
            return bad(QStringLiteral("\"%1\" is not HH:MM-HH:MM").arg(parts.at(1)));
        const int start = minuteOfDay(hours.at(0), false);
        const int end = minuteOfDay(hours.at(1), true);
        if (start < 0)
            return bad(QStringLiteral("\"%1\" is not a time of day").arg(hours.at(0)));
        if (end < 0)
            return bad(QStringLiteral("\"%1\" is not a time of day").arg(hours.at(1)));
        if (end <= start)
            return bad(QStringLiteral("the end %1 is not after the start %2")
                           .arg(hours.at(1), hours.at(0)));
        for (size_t day = 0; day < 7; ++day) {
            if (!days.test(day))
                continue;
            for (int minute = start; minute < end; ++minute)
                schedule.m_days[day].set(size_t(minute));
        }
    }
    return schedule;
}

bool TSchedule::allowsMinute(int dayIndex, int minute) const
{
    return !m_rule || m_days[size_t(dayIndex)].test(size_t(minute));
}

bool TSchedule::Allows(const QDateTime &local) const
{
    const QTime time = local.time();
    return allowsMinute(local.date().dayOfWeek() - 1, time.hour() * 60 + time.minute());
}

QDateTime TSchedule::NextOpening(const QDateTime &local) const
{
    if (Allows(local))
        return local;
    const QDate today = local.date();
    int minute = local.time().hour() * 60 + local.time().minute() + 1;
    for (int offset = 0; offset <= 8; ++offset, minute = 0) {
        const QDate date = today.addDays(offset);
        for (; minute < MinutesPerDay; ++minute) {
            if (allowsMinute(date.dayOfWeek() - 1, minute))
                return QDateTime(date, QTime(minute / 60, minute % 60), local.timeSpec());
        }
    }
    return {};
}

TSchedule TSchedule::Intersect(const TSchedule &other) const
{
    if (!other.m_rule)
        return *this;
    if (!m_rule)
        return other;
    TSchedule both = *this;
    for (size_t day = 0; day < 7; ++day)
        both.m_days[day] &= other.m_days[day];
    return both;
}
