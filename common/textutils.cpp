#include "common/textutils.h"

namespace TextUtils {

bool IsBlank(QChar c)
{
    return c.unicode() <= 32;
}

QString Trim(const QString &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && IsBlank(text.at(start)))
        ++start;
    while (end > start && IsBlank(text.at(end - 1)))
        --end;
    return text.mid(start, end - start);
}

QByteArray Trim(const QByteArray &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && static_cast<unsigned char>(text.at(start)) <= 32)
        ++start;
    while (end > start && static_cast<unsigned char>(text.at(end - 1)) <= 32)
        --end;
    return text.mid(start, end - start);
}

QString LowerCase(const QString &text)
{
    QString result = text;
    for (QChar &c : result) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    }
    return result;
}

QByteArray LowerCase(const QByteArray &text)
{
    QByteArray result = text;
    for (char &c : result) {
        if (c >= 'A' && c <= 'Z')
            c = char(c + 32);
    }
    return result;
}

} // namespace TextUtils
