#pragma once

#include <QStringView>

// Where each part of an address lies inside the address's own text. Nothing is decoded,
// escaped or case-folded: QUrl lower-cases host names and re-escapes text, which would change
// the very characters the popup blocker keys its decisions on.
struct TUrlParts
{
    qsizetype SchemeLength = 0; // the scheme ends just before the first ':'
    qsizetype UserStart = -1;   // -1: no user name (nor password) given
    qsizetype UserLength = 0;
    qsizetype PasswordStart = -1; // -1: no password given
    qsizetype PasswordLength = 0;
    qsizetype HostStart = -1; // -1: the address has no authority ("about:blank")
    qsizetype HostLength = 0; // an IPv6 literal keeps its brackets
    qsizetype PortStart = -1; // -1: no ':' after the host name
    qsizetype PortLength = 0;
    qsizetype PathStart = 0; // path, or query or fragment when there is no path;
                             // the text's length when nothing follows the authority
};

// Splits text as "scheme:[//[user[:password]@]host[:port]]rest". Returns false, leaving
// parts untouched, when the text does not start with a scheme (a bare host name, a path).
// Backslashes count as slashes, as browsers read them in web addresses.
bool SplitUrl(QStringView text, TUrlParts *parts);
