#include "common/genutilities.h"

#include "common/urlsplit.h"

namespace GenUtilities {

// The domain is the text from the host name's first character up to the path: the host name
// as written, and ":port" when the address names one. User name and password stand before
// the host and so fall away.
QString GetDomain(const QString &url)
{
    try {
        TUrlParts parts;
        if (!SplitUrl(url, &parts))
            return QString();
        if (parts.HostStart < 0 || parts.HostLength == 0)
            return QString();
        return url.mid(parts.HostStart, parts.PathStart - parts.HostStart);
    } catch (...) {
        return url;
    }
}

} // namespace GenUtilities
