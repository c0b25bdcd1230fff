#pragma once

#include <QByteArray>
#include <QString>

// The login record cipher: PC1 with a 128-bit key, each cipher byte written as two letters
// "a" to "p" (high nibble first). Logins stored by other copies and by the companion product
// depend on the exact output, so nothing here may change it.
namespace Encryption {

// Enciphers (Encipher true) or deciphers Text under KeyString. Texts are taken as their UTF-8
// bytes; deciphered bytes are read back as UTF-8, or byte for byte when they are not valid
// UTF-8 so no byte is lost. The empty text gives the empty text.
QString CryptString(const QString &Text, const QString &KeyString, bool Encipher);

// The same on bytes. The key's first 16 bytes are used, a shorter key is padded with zeros.
QByteArray EncipherBytes(const QByteArray &plain, const QByteArray &key);
// Takes the cipher text in pairs of letters (a lone last letter is ignored, a character
// outside "a" to "p" counts as 0) and stops at the first zero byte it produces.
QByteArray DecipherBytes(const QByteArray &cipher, const QByteArray &key);

// Text of deciphered bytes: UTF-8 when they are valid UTF-8, otherwise one character a byte.
QString TextFromBytes(const QByteArray &bytes);

} // namespace Encryption

using Encryption::CryptString;
