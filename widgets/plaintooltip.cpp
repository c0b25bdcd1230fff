#include "widgets/plaintooltip.h"

#include <QTextDocument>

namespace TextUtils {

QString PlainToolTip(const QString &text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}

} // namespace TextUtils
