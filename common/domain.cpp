#include "common/genutilities.h"

namespace GenUtilities {

QString GetDomain(const QString &)
{
    return QString();
}

} // namespace GenUtilities
