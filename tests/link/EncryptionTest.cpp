// The encrypted envelope of the network link, checked against libgcrypt used directly: an envelope
// built here from the byte layout must decrypt, and every envelope EncryptData builds must decode
// as one Twofish-256 CBC stream.
#include "external/CipherLib.h"
#include "link/modEncryption.h"

#include <gtest/gtest.h>

#include <QRandomGenerator>
#include <QSet>

#include <gcrypt.h>

using modEncryption::DecryptData;
using modEncryption::EncryptData;

namespace {

const QString kKey = QStringLiteral("0123456789ABCDEF0123456789ABCDEF");

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(generator.bounded(256));
    return bytes;
}

qsizetype padded(qsizetype n) { return (n + 15) / 16 * 16; }

// Twofish-256 CBC over `bytes` (a multiple of 16) with libgcrypt, independent of the adapter.
QByteArray gcryptCbc(bool encrypt, const QByteArray &key32, const QByteArray &iv, QByteArray bytes)
{
    EXPECT_TRUE(CipherLib::initialize());
    gcry_cipher_hd_t handle = nullptr;
    EXPECT_EQ(gcry_cipher_open(&handle, GCRY_CIPHER_TWOFISH, GCRY_CIPHER_MODE_CBC, 0), 0u);
    EXPECT_EQ(gcry_cipher_setkey(handle, key32.constData(), 32), 0u);
    EXPECT_EQ(gcry_cipher_setiv(handle, iv.constData(), 16), 0u);
    const gcry_error_t err = encrypt ? gcry_cipher_encrypt(handle, bytes.data(), bytes.size(), nullptr, 0)
                                     : gcry_cipher_decrypt(handle, bytes.data(), bytes.size(), nullptr, 0);
    EXPECT_EQ(err, 0u);
    gcry_cipher_close(handle);
    return bytes;
}

} // namespace

TEST(CipherLib, PublishedTwofish256VectorAndChaining)
{
    // Zero key, zero block: the published 256-bit Twofish result. With a zero vector the first CBC
    // block is the plain block cipher.
    std::uint8_t vector[16] = {};
    const char key[32] = {};
    std::uint8_t work[CipherLib::WorkSize] = {};
    ASSERT_EQ(CipherLib::BlockEncrypt(vector, key, 16, work, CipherLib::ModeCbc), 0);
    const QByteArray expected = QByteArray::fromHex("57FF739D4DC92C1BD7FC01700CC8216F");
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(work), 16), expected);
    // The vector now holds the last cipher block, ready for the next piece.
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(vector), 16), expected);

    // Decrypting from the zero vector restores the zero block and leaves the same chaining value.
    std::uint8_t back[16] = {};
    ASSERT_EQ(CipherLib::BlockEncrypt(back, key, -16, work, CipherLib::ModeCbc), 0);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(work), 16), QByteArray(16, '\0'));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(back), 16), expected);
}

TEST(CipherLib, RejectsLengthsTheWorkBufferCannotTake)
{
    std::uint8_t vector[16] = {};
    const char key[32] = {};
    std::uint8_t work[CipherLib::WorkSize] = {};
    EXPECT_NE(CipherLib::BlockEncrypt(vector, key, 15, work, CipherLib::ModeCbc), 0);
    EXPECT_NE(CipherLib::BlockEncrypt(vector, key, -17, work, CipherLib::ModeCbc), 0);
    EXPECT_NE(CipherLib::BlockEncrypt(vector, key, 1040, work, CipherLib::ModeCbc), 0);
    EXPECT_NE(CipherLib::BlockEncrypt(vector, key, 16, work, 0), 0);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char *>(vector), 16), QByteArray(16, '\0'));
    EXPECT_EQ(CipherLib::BlockEncrypt(vector, key, 0, work, CipherLib::ModeCbc), 0);
}

TEST(Encryption, RoundTripsKeepEveryLengthAndFollowTheLayout)
{
    for (const qsizetype n : {0, 1, 10, 15, 16, 17, 1023, 1024, 1025, 2048, 3000}) {
        SCOPED_TRACE(n);
        const QByteArray plain = randomBytes(n, static_cast<quint32>(n) + 7);
        const QByteArray envelope = EncryptData(plain, kKey);
        ASSERT_EQ(envelope.size(), modEncryption::HeaderSize + padded(n));
        EXPECT_EQ(static_cast<std::uint8_t>(envelope.at(16)), (n >> 8) & 0xFF);
        EXPECT_EQ(static_cast<std::uint8_t>(envelope.at(17)), n & 0xFF);
        EXPECT_EQ(DecryptData(envelope, kKey), plain);
    }
    // The sizes the link relies on.
    EXPECT_EQ(EncryptData(QByteArray(10, 'x'), kKey).size(), 34);
    EXPECT_EQ(EncryptData(QByteArray(16, 'x'), kKey).size(), 34);
    EXPECT_EQ(EncryptData(QByteArray(1025, 'x'), kKey).size(), 18 + 1024 + 16);
}

TEST(Encryption, EnvelopeIsOneCbcStreamFromItsVector)
{
    // Three pieces (1024, 1024, 952 padded to 960): decoding the whole cipher text in one go with
    // the envelope's vector gives the plain text and zero padding, so the vector chains across
    // pieces exactly like one stream.
    const QByteArray plain = randomBytes(3000, 42);
    const QByteArray envelope = EncryptData(plain, kKey);
    ASSERT_EQ(envelope.size(), 18 + 3008);
    const QByteArray decoded = gcryptCbc(false, kKey.toLatin1(), envelope.left(16), envelope.mid(18));
    EXPECT_EQ(decoded.left(3000), plain);
    EXPECT_EQ(decoded.mid(3000), QByteArray(8, '\0'));
}

TEST(Encryption, DecryptsAnEnvelopeBuiltFromTheLayout)
{
    // A short key is padded with blanks to 32 characters.
    const QString key = QStringLiteral("short key");
    const QByteArray key32 = QByteArray("short key").leftJustified(32, ' ');
    ASSERT_EQ(modEncryption::cipherKey(key), key32);
    EXPECT_EQ(modEncryption::cipherKey(kKey + QStringLiteral("tail")), kKey.toLatin1());

    const QByteArray iv = QByteArray::fromHex("00112233445566778899AABBCCDDEEFF");
    const QByteArray plain = randomBytes(1030, 5);
    QByteArray envelope = iv;
    envelope.append(char(1030 >> 8));
    envelope.append(char(1030 & 0xFF));
    envelope.append(gcryptCbc(true, key32, iv, plain.leftJustified(padded(1030), '\0')));
    EXPECT_EQ(DecryptData(envelope, key), plain);
    // The wrong key gives something else.
    EXPECT_NE(DecryptData(envelope, kKey), plain);
}

TEST(Encryption, MalformedEnvelopesGiveNothing)
{
    const QByteArray good = EncryptData(QByteArray("0123456789abcdefXYZ"), kKey); // 19 bytes -> 2 blocks
    ASSERT_EQ(good.size(), 18 + 32);

    EXPECT_TRUE(DecryptData(QByteArray(), kKey).isEmpty());
    EXPECT_TRUE(DecryptData(QByteArray(1, '\x10'), kKey).isEmpty());
    EXPECT_TRUE(DecryptData(QByteArray(2, '\x10'), kKey).isEmpty()); // 2 - 18 = -16
    EXPECT_TRUE(DecryptData(good.left(17), kKey).isEmpty());
    EXPECT_TRUE(DecryptData(QByteArray(20, '\x01'), kKey).isEmpty()); // the link's 20-byte probe
    EXPECT_TRUE(DecryptData(good + 'x', kKey).isEmpty());

    // Truncated by one block: n (19) now exceeds the 16 cipher bytes left.
    EXPECT_TRUE(DecryptData(good.left(34), kKey).isEmpty());
    // A bare header that claims plain bytes carries none of them.
    QByteArray header = good.left(18);
    EXPECT_TRUE(DecryptData(header, kKey).isEmpty());
    // n far beyond the cipher text.
    QByteArray lying = good;
    lying[16] = '\xFF';
    lying[17] = '\xFF';
    EXPECT_TRUE(DecryptData(lying, kKey).isEmpty());

    // An empty plain text is a valid 18-byte envelope.
    const QByteArray empty = EncryptData(QByteArray(), kKey);
    ASSERT_EQ(empty.size(), 18);
    EXPECT_TRUE(DecryptData(empty, kKey).isEmpty());
}

TEST(Encryption, EveryEnvelopeGetsAFreshVector)
{
    const QByteArray plain("same payload");
    QSet<QByteArray> vectors;
    QSet<QByteArray> ciphers;
    for (int i = 0; i < 64; ++i) {
        const QByteArray envelope = EncryptData(plain, kKey);
        vectors.insert(envelope.left(16));
        ciphers.insert(envelope.mid(18));
        ASSERT_EQ(DecryptData(envelope, kKey), plain);
    }
    EXPECT_EQ(vectors.size(), 64);
    EXPECT_EQ(ciphers.size(), 64);
}

TEST(Encryption, PlainTextLongerThanTheHeaderCanCountIsRefused)
{
    EXPECT_TRUE(EncryptData(QByteArray(0x10000, 'a'), kKey).isEmpty());
    const QByteArray largest = EncryptData(QByteArray(0xFFFF, 'a'), kKey);
    ASSERT_EQ(largest.size(), 18 + 0x10000);
    EXPECT_EQ(DecryptData(largest, kKey), QByteArray(0xFFFF, 'a'));
}
