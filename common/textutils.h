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

} // namespace TextUtils
