#include "common/urlsplit.h"

namespace {

bool isAsciiLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z');
}

bool isSchemeChar(QChar c)
{
    const char16_t u = c.unicode();
    return isAsciiLetter(c) || (u >= u'0' && u <= u'9') || u == u'+' || u == u'-' || u == u'.';
}

bool isSlash(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

bool endsAuthority(QChar c)
{
    return isSlash(c) || c == QLatin1Char('?') || c == QLatin1Char('#');
}

} // namespace

bool SplitUrl(QStringView text, TUrlParts *parts)
{
    const qsizetype size = text.size();
    if (size == 0 || !isAsciiLetter(text.at(0)))
        return false;
    qsizetype colon = 1;
    while (colon < size && isSchemeChar(text.at(colon)))
        ++colon;
    if (colon >= size || text.at(colon) != QLatin1Char(':'))
        return false;

    TUrlParts result;
    result.SchemeLength = colon;
    const qsizetype afterScheme = colon + 1;
    if (afterScheme + 1 >= size || !isSlash(text.at(afterScheme)) ||
        !isSlash(text.at(afterScheme + 1))) {
        // No authority: "about:blank", "data:…", "mailto:…", "http:relative".
        result.PathStart = afterScheme;
        *parts = result;
        return true;
    }

    const qsizetype authorityStart = afterScheme + 2;
    qsizetype authorityEnd = authorityStart;
    while (authorityEnd < size && !endsAuthority(text.at(authorityEnd)))
        ++authorityEnd;
    result.PathStart = authorityEnd;

    // The last '@' ends the user information, as browsers read "user:p@ss@host".
    qsizetype hostStart = authorityStart;
    for (qsizetype i = authorityEnd - 1; i >= authorityStart; --i) {
        if (text.at(i) == QLatin1Char('@')) {
            hostStart = i + 1;
            break;
        }
    }
    if (hostStart > authorityStart) {
        const qsizetype userEnd = hostStart - 1;
        qsizetype passwordColon = authorityStart;
        while (passwordColon < userEnd && text.at(passwordColon) != QLatin1Char(':'))
            ++passwordColon;
        result.UserStart = authorityStart;
        result.UserLength = passwordColon - authorityStart;
        if (passwordColon < userEnd) {
            result.PasswordStart = passwordColon + 1;
            result.PasswordLength = userEnd - passwordColon - 1;
        }
    }

    qsizetype hostEnd = hostStart;
    if (hostStart < authorityEnd && text.at(hostStart) == QLatin1Char('[')) {
        while (hostEnd < authorityEnd && text.at(hostEnd) != QLatin1Char(']'))
            ++hostEnd;
        if (hostEnd < authorityEnd)
            ++hostEnd; // keep the closing bracket
        // Anything but a port after the literal is kept as part of the host.
        if (hostEnd < authorityEnd && text.at(hostEnd) != QLatin1Char(':'))
            hostEnd = authorityEnd;
    } else {
        while (hostEnd < authorityEnd && text.at(hostEnd) != QLatin1Char(':'))
            ++hostEnd;
    }
    result.HostStart = hostStart;
    result.HostLength = hostEnd - hostStart;
    if (hostEnd < authorityEnd) {
        result.PortStart = hostEnd + 1;
        result.PortLength = authorityEnd - hostEnd - 1;
    }
    *parts = result;
    return true;
}
