#include "common/genutilities.h"

#include "common/guard.h"
#include "common/urlsplit.h"

namespace GenUtilities {

// The domain is the text from the host name's first character up to the path: the host name
// as written, and ":port" when the address names one. User name and password stand before
// the host and so fall away.
QString GetDomain(const QString &url)
{
    // A failure gives the address back whole.
    QString domain = url;
    Guard::Run("GetDomain", [&] {
        TUrlParts parts;
        if (!SplitUrl(url, &parts) || parts.HostStart < 0 || parts.HostLength == 0)
            domain.clear();
        else
            domain = url.mid(parts.HostStart, parts.PathStart - parts.HostStart);
    });
    return domain;
}

} // namespace GenUtilities
