// The login cipher: stored records are deciphered from whatever the hive holds, and every
// text enciphered must come back unchanged. Input: key NUL text.
#include "fuzzcheck.h"

#include "common/encryption.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QByteArray key = nul >= 0 ? input.left(nul) : QByteArray();
    const QByteArray text = nul >= 0 ? input.mid(nul + 1) : input;

    // Any cipher text: at most one byte per pair of letters, and never a zero byte.
    const QByteArray plain = Encryption::DecipherBytes(text, key);
    FUZZ_CHECK(plain.size() <= text.size() / 2);
    FUZZ_CHECK(!plain.contains('\0'));
    Encryption::CryptString(QString::fromLatin1(text), QString::fromLatin1(key), false);

    // Enciphering gives two letters "a" to "p" per byte and deciphers to the bytes up to the
    // first zero.
    const QByteArray cipher = Encryption::EncipherBytes(text, key);
    FUZZ_CHECK(cipher.size() == text.size() * 2);
    for (const char c : cipher)
        FUZZ_CHECK(c >= 'a' && c <= 'p');
    const qsizetype zero = text.indexOf('\0');
    FUZZ_CHECK(Encryption::DecipherBytes(cipher, key) == (zero >= 0 ? text.left(zero) : text));
    // Only the key's first 16 bytes count.
    if (key.size() < 16)
        FUZZ_CHECK(Encryption::EncipherBytes(text, key + QByteArray(16 - key.size(), '\0')) ==
                   cipher);
    else
        FUZZ_CHECK(Encryption::EncipherBytes(text, key.left(16) + "x") == cipher);

    // Text: any text without NUL survives the round trip, as UTF-8 or byte for byte.
    const QString asText = QString::fromUtf8(text).remove(QChar(0));
    const QString keyText = QString::fromUtf8(key);
    const QString stored = Encryption::CryptString(asText, keyText, true);
    FUZZ_CHECK(Encryption::CryptString(stored, keyText, false) == asText);
    return 0;
}
