#pragma once

#include <QString>

namespace TextUtils {

// Text for a tooltip that shows it as written: a tooltip takes text that looks like markup
// for markup, and a page's title may look like anything.
QString PlainToolTip(const QString &text);

} // namespace TextUtils
