#pragma once

#include <QByteArray>
#include <QString>

// Trimming and lower-casing as the program defines them: trimming drops codes 32 and below
// from both ends, lower-casing touches only A to Z. Qt's Unicode-aware versions differ.
namespace TextUtils {

QString Trim(const QString &text);
QByteArray Trim(const QByteArray &text);
QString LowerCase(const QString &text);
QByteArray LowerCase(const QByteArray &text);
bool IsBlank(QChar c);

// Text for a tooltip that shows it as written: a tooltip takes text that looks like markup
// for markup, and a page's title may look like anything.
QString PlainToolTip(const QString &text);

} // namespace TextUtils
