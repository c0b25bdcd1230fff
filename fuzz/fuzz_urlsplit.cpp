// The address splitter and the domain taken from it: the popup blocker's decisions rest on
// the domain, so it must always be one clean piece of the address's own text.
#include "fuzzcheck.h"

#include "common/genutilities.h"
#include "common/urlsplit.h"

#include <QString>

namespace {

bool endsAuthority(QChar c)
{
    return c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char('?') ||
           c == QLatin1Char('#');
}

bool inside(qsizetype start, qsizetype length, qsizetype size)
{
    return start >= 0 && length >= 0 && start + length <= size;
}

void checkParts(const QString &text)
{
    TUrlParts untouched;
    untouched.SchemeLength = -7;
    TUrlParts parts = untouched;
    const qsizetype size = text.size();
    if (!SplitUrl(text, &parts)) {
        FUZZ_CHECK(parts.SchemeLength == -7);
        return;
    }
    FUZZ_CHECK(parts.SchemeLength >= 1 && parts.SchemeLength < size);
    FUZZ_CHECK(text.at(parts.SchemeLength) == QLatin1Char(':'));
    FUZZ_CHECK(parts.PathStart > parts.SchemeLength && parts.PathStart <= size);
    if (parts.HostStart < 0) {
        FUZZ_CHECK(parts.UserStart < 0 && parts.PasswordStart < 0 && parts.PortStart < 0);
        FUZZ_CHECK(parts.PathStart == parts.SchemeLength + 1);
        return;
    }
    // Each part lies inside the authority, in order, and the path starts where it ends.
    FUZZ_CHECK(parts.HostStart >= parts.SchemeLength + 3);
    FUZZ_CHECK(inside(parts.HostStart, parts.HostLength, size));
    FUZZ_CHECK(parts.PathStart == size || endsAuthority(text.at(parts.PathStart)));
    for (qsizetype i = parts.SchemeLength + 3; i < parts.PathStart; ++i)
        FUZZ_CHECK(!endsAuthority(text.at(i)));
    const QStringView host = QStringView(text).mid(parts.HostStart, parts.HostLength);
    FUZZ_CHECK(!host.contains(QLatin1Char('@')));
    if (!host.startsWith(QLatin1Char('[')))
        FUZZ_CHECK(!host.contains(QLatin1Char(':')));
    if (parts.UserStart >= 0) {
        FUZZ_CHECK(inside(parts.UserStart, parts.UserLength, parts.HostStart));
        FUZZ_CHECK(text.at(parts.HostStart - 1) == QLatin1Char('@'));
        if (parts.PasswordStart >= 0) {
            FUZZ_CHECK(parts.PasswordStart == parts.UserStart + parts.UserLength + 1);
            FUZZ_CHECK(parts.PasswordStart + parts.PasswordLength == parts.HostStart - 1);
        } else {
            FUZZ_CHECK(parts.UserStart + parts.UserLength == parts.HostStart - 1);
        }
    } else {
        FUZZ_CHECK(parts.PasswordStart < 0);
        FUZZ_CHECK(parts.HostStart == parts.SchemeLength + 3);
    }
    if (parts.PortStart >= 0) {
        FUZZ_CHECK(parts.PortStart == parts.HostStart + parts.HostLength + 1);
        FUZZ_CHECK(text.at(parts.PortStart - 1) == QLatin1Char(':'));
        FUZZ_CHECK(parts.PortStart + parts.PortLength == parts.PathStart);
    } else {
        FUZZ_CHECK(parts.HostStart + parts.HostLength == parts.PathStart);
    }
}

void checkDomain(const QString &url)
{
    const QString domain = GenUtilities::GetDomain(url);
    if (domain.isEmpty())
        return;
    for (const QChar c : domain)
        FUZZ_CHECK(!endsAuthority(c) && c != QLatin1Char('@'));
    // A domain put back behind a scheme is read as the same domain, so what the popup list
    // stores matches what a page of that domain gives again.
    FUZZ_CHECK(GenUtilities::GetDomain(QStringLiteral("http://") + domain) == domain);
    FUZZ_CHECK(GenUtilities::GetDomain(QStringLiteral("http://") + domain + QStringLiteral("/p")) ==
               domain);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    checkParts(text);
    checkDomain(text);
    // The same text behind a web scheme reaches the authority branch however it starts.
    const QString web = QStringLiteral("https://") + text;
    checkParts(web);
    checkDomain(web);
    return 0;
}
