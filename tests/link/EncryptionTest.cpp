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

// Twofish-256 CBC over `bytes` (a multiple of 16) with libgcrypt, independent of the adapter.
QByteArray gcryptCbc(bool encrypt, const QByteArray &key32, const QByteArray &iv, QByteArray bytes)
{
    EXPECT_TRUE(CipherLib::initialize());
    gcry_cipher_hd_t handle = nullptr;
    EXPECT_EQ(gcry_cipher_open(&handle, GCRY_CIPHER_TWOFISH, GCRY_CIPHER_MODE_CBC, 0), 0u);
    EXPECT_EQ(gcry_cipher_setkey(handle, key32.constData(), 32), 0u);
    EXPECT_EQ(gcry_cipher_setiv(handle, iv.constData(), 16), 0u);
    EXPECT_EQ(encrypt ? gcry_cipher_encrypt(handle, bytes.data(), bytes.size(), nullptr, 0)
                      : gcry_cipher_decrypt(handle, bytes.data(), bytes.size(), nullptr, 0), 0u);
    gcry_cipher_close(handle);
    return bytes;
}

QByteArray block(const std::uint8_t *bytes) { return QByteArray(reinterpret_cast<const char *>(bytes), 16); }

} // namespace

TEST(CipherLib, PublishedTwofish256VectorChainingAndRefusedLengths)
{
    // Zero key, zero block: the published 256-bit Twofish result. With a zero vector the first CBC
    // block is the plain block cipher; the vector then holds the last cipher block.
    std::uint8_t vector[16] = {};
    const char key[32] = {};
    std::uint8_t work[CipherLib::WorkSize] = {};
    const QByteArray expected = QByteArray::fromHex("57FF739D4DC92C1BD7FC01700CC8216F");
    ASSERT_EQ(CipherLib::BlockEncrypt(vector, key, 16, work, CipherLib::ModeCbc), 0);
    EXPECT_EQ(block(work), expected);
    EXPECT_EQ(block(vector), expected);
    // Decrypting from the zero vector restores the zero block and leaves the same chaining value.
    std::uint8_t back[16] = {};
    ASSERT_EQ(CipherLib::BlockEncrypt(back, key, -16, work, CipherLib::ModeCbc), 0);
    EXPECT_EQ(block(work), QByteArray(16, '\0'));
    EXPECT_EQ(block(back), expected);

    // Lengths the work buffer cannot take, and an unknown mode, leave the vector alone.
    std::uint8_t untouched[16] = {};
    for (const auto &[length, mode] : {std::pair{15, CipherLib::ModeCbc}, {-17, CipherLib::ModeCbc},
                                       {1040, CipherLib::ModeCbc}, {16, 0}})
        EXPECT_NE(CipherLib::BlockEncrypt(untouched, key, length, work, mode), 0) << length;
    EXPECT_EQ(block(untouched), QByteArray(16, '\0'));
    EXPECT_EQ(CipherLib::BlockEncrypt(untouched, key, 0, work, CipherLib::ModeCbc), 0);
}

TEST(Encryption, RoundTripsKeepEveryLengthFollowTheLayoutAndDrawFreshVectors)
{
    for (const auto &[n, size] : {std::pair{0, 18}, {1, 34}, {10, 34}, {16, 34}, {17, 50}, {1024, 18 + 1024},
                                  {1025, 18 + 1024 + 16}, {2048, 18 + 2048}, {3000, 18 + 3008}, {0xFFFF, 18 + 0x10000}}) {
        SCOPED_TRACE(n);
        const QByteArray plain = randomBytes(n, static_cast<quint32>(n) + 7);
        const QByteArray envelope = EncryptData(plain, kKey);
        ASSERT_EQ(envelope.size(), size);
        EXPECT_EQ(static_cast<std::uint8_t>(envelope.at(16)), (n >> 8) & 0xFF);
        EXPECT_EQ(static_cast<std::uint8_t>(envelope.at(17)), n & 0xFF);
        EXPECT_EQ(DecryptData(envelope, kKey), plain);
    }
    // More plain text than the header can count is refused.
    EXPECT_TRUE(EncryptData(QByteArray(0x10000, 'a'), kKey).isEmpty());

    // Every envelope gets a fresh vector, so the same payload never gives the same cipher text.
    QSet<QByteArray> vectors, ciphers;
    for (int i = 0; i < 32; ++i) {
        const QByteArray envelope = EncryptData("same payload", kKey);
        vectors.insert(envelope.left(16));
        ciphers.insert(envelope.mid(18));
    }
    EXPECT_EQ(vectors.size(), 32);
    EXPECT_EQ(ciphers.size(), 32);
}

TEST(Encryption, EnvelopeIsOneCbcStreamBothWaysAgainstLibgcrypt)
{
    // Three pieces (1024, 1024, 952 padded to 960): decoding the whole cipher text in one go with
    // the envelope's vector gives the plain text and zero padding, so the vector chains across
    // pieces exactly like one stream.
    const QByteArray plain = randomBytes(3000, 42);
    const QByteArray envelope = EncryptData(plain, kKey);
    const QByteArray decoded = gcryptCbc(false, kKey.toLatin1(), envelope.left(16), envelope.mid(18));
    EXPECT_EQ(decoded, plain + QByteArray(8, '\0'));

    // The other way: an envelope built here decrypts. A short key is padded with blanks to 32
    // characters, a long one cut.
    const QByteArray key32 = QByteArray("short key").leftJustified(32, ' ');
    ASSERT_EQ(modEncryption::cipherKey(QStringLiteral("short key")), key32);
    EXPECT_EQ(modEncryption::cipherKey(kKey + QStringLiteral("tail")), kKey.toLatin1());
    const QByteArray iv = QByteArray::fromHex("00112233445566778899AABBCCDDEEFF");
    const QByteArray built = iv + QByteArray::fromHex("0406") + gcryptCbc(true, key32, iv, plain.left(1030).leftJustified(1040, '\0'));
    EXPECT_EQ(DecryptData(built, QStringLiteral("short key")), plain.left(1030));
    EXPECT_NE(DecryptData(built, kKey), plain.left(1030)); // the wrong key gives something else
}

TEST(Encryption, MalformedEnvelopesGiveNothing)
{
    const QByteArray good = EncryptData(QByteArray("0123456789abcdefXYZ"), kKey); // 19 bytes -> 2 blocks
    ASSERT_EQ(good.size(), 18 + 32);
    QByteArray lying = good; // n far beyond the cipher text
    lying[16] = lying[17] = '\xFF';
    const QByteArray malformed[] = {
        QByteArray(), QByteArray(1, '\x10'), QByteArray(2, '\x10') /* 2 - 18 = -16 */, good.left(17),
        QByteArray(20, '\x01') /* the link's 20-byte probe */, good + 'x',
        good.left(34) /* n (19) exceeds the 16 cipher bytes left */, good.left(18), lying,
    };
    for (const QByteArray &envelope : malformed)
        EXPECT_TRUE(DecryptData(envelope, kKey).isEmpty()) << envelope.toHex().left(40).toStdString();
}
