#include "common/encryption.h"

#include "common/guard.h"

#include <QStringDecoder>
#include <array>
#include <cstdint>

namespace Encryption {

namespace {

constexpr int KeyLength = 16;

// The cipher's working state; each operation starts from a fresh one, so equal inputs give
// equal output and no two operations can disturb each other.
class TPc1State
{
public:
    explicit TPc1State(const QByteArray &keyString)
    {
        m_key.fill(0);
        const int n = qMin(int(keyString.size()), KeyLength);
        for (int i = 0; i < n; ++i)
            m_key[i] = static_cast<uint8_t>(keyString.at(i));
    }

    // The keystream byte for the current key, before the next plain byte is mixed in.
    uint8_t KeystreamByte()
    {
        m_words[0] = uint16_t(m_key[0] * 256 + m_key[1]);
        uint16_t s = mix();
        for (int k = 1; k < 8; ++k) {
            m_words[k] = uint16_t(m_words[k - 1] ^ (m_key[2 * k] * 256 + m_key[2 * k + 1]));
            s ^= mix();
        }
        m_index = 0;
        return uint8_t((s >> 8) ^ (s & 0xFF));
    }

    // Plaintext feedback: every plain byte changes all 16 key bytes.
    void MixIntoKey(uint8_t plain)
    {
        for (uint8_t &b : m_key)
            b ^= plain;
    }

private:
    uint16_t mix()
    {
        const uint16_t t = m_words[m_index];
        const uint16_t d = uint16_t(t * 0x015A + uint16_t(m_carry + m_index) * 0x4E35 + m_mult);
        const uint16_t a = uint16_t(t * 0x4E35 + 1);
        m_mult = uint16_t(t * 0x015A);
        m_carry = d;
        m_words[m_index] = a;
        ++m_index;
        return uint16_t(a ^ d);
    }

    std::array<uint8_t, KeyLength> m_key{};
    std::array<uint16_t, 8> m_words{};
    uint16_t m_carry = 0;
    uint16_t m_mult = 0;
    uint16_t m_index = 0;
};

char letterOf(int nibble)
{
    return char('a' + nibble);
}

int valueOf(char letter)
{
    return (letter >= 'a' && letter <= 'p') ? letter - 'a' : 0;
}

} // namespace

QByteArray EncipherBytes(const QByteArray &plain, const QByteArray &key)
{
    QByteArray result;
    result.reserve(plain.size() * 2);
    TPc1State state(key);
    for (const char c : plain) {
        const auto p = static_cast<uint8_t>(c);
        const uint8_t k = state.KeystreamByte();
        state.MixIntoKey(p);
        const uint8_t e = p ^ k;
        result.append(letterOf(e >> 4));
        result.append(letterOf(e & 15));
    }
    return result;
}

QByteArray DecipherBytes(const QByteArray &cipher, const QByteArray &key)
{
    QByteArray result;
    result.reserve(cipher.size() / 2);
    TPc1State state(key);
    for (qsizetype i = 0; i + 1 < cipher.size(); i += 2) {
        const uint8_t e = uint8_t(valueOf(cipher.at(i)) * 16 + valueOf(cipher.at(i + 1)));
        const uint8_t p = e ^ state.KeystreamByte();
        // The text ends at its first zero byte.
        if (p == 0)
            break;
        state.MixIntoKey(p);
        result.append(char(p));
    }
    return result;
}

QString TextFromBytes(const QByteArray &bytes)
{
    // A leading byte-order mark is part of the text, not a marker to drop.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    const QString text = decoder(bytes);
    if (!decoder.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

QString CryptString(const QString &Text, const QString &KeyString, bool Encipher)
{
    if (Text.isEmpty())
        return QString();
    // A failure gives the text back unchanged.
    QString result = Text;
    Guard::Run("CryptString", [&] {
        const QByteArray key = KeyString.toUtf8();
        result = Encipher ? QString::fromLatin1(EncipherBytes(Text.toUtf8(), key))
                          : TextFromBytes(DecipherBytes(Text.toLatin1(), key));
    });
    return result;
}

} // namespace Encryption
