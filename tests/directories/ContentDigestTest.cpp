// The digest that tells whether a directory file still holds the bytes read.

#include "directories/ContentDigest.h"

#include "tests/support/TestSupport.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

quint64 DigestOf(const QByteArray& bytes) {
    CContentDigest digest;
    digest.Feed(bytes.constData(), bytes.size());
    return digest.Result();
}

TEST(ContentDigestTest, GivesTheKnownValuesOfItsFunction) {
    EXPECT_EQ(DigestOf(QByteArray()), 0xEF46DB3751D8E999ull);
    EXPECT_EQ(DigestOf("abc"), 0x44BC2CF5AD770999ull);
    // Whole stripes, then the rest in 8-, 4- and 1-byte steps.
    EXPECT_EQ(DigestOf(QByteArray("1234567;Moloko;4601234567890\r\n").repeated(3)), 0x14F77151CF47D815ull);
}

TEST(ContentDigestTest, PiecesCutAnywhereGiveTheDigestOfTheWhole) {
    QRandomGenerator random(7);
    QByteArray bytes(5000, Qt::Uninitialized);
    for (char& c : bytes) c = char(random.bounded(256));
    const quint64 whole = DigestOf(bytes);
    for (int attempt = 0; attempt < 50; ++attempt) {
        CContentDigest digest;
        for (qsizetype at = 0; at < bytes.size();) {
            const qsizetype piece = qMin<qsizetype>(random.bounded(1, 70), bytes.size() - at);
            digest.Feed(bytes.constData() + at, piece);
            at += piece;
        }
        ASSERT_EQ(digest.Result(), whole) << attempt;
        EXPECT_EQ(digest.Bytes(), bytes.size());
    }
    // Any one byte changed changes it.
    for (qsizetype at : {qsizetype(0), qsizetype(31), qsizetype(32), qsizetype(4999)}) {
        QByteArray changed = bytes;
        changed[at] = char(changed[at] ^ 1);
        EXPECT_NE(DigestOf(changed), whole) << at;
    }
}

TEST(ContentDigestTest, AFileStateIsItsBytesOrNone) {
    CTestDir dir;
    const QByteArray bytes = QByteArray("1;a;1\r\n").repeated(1000);
    ASSERT_TRUE(WriteFileBytes(dir.File("d.txt"), bytes));
    const FileContentState state = ReadFileContentState(dir.File("d.txt"));
    EXPECT_TRUE(state.exists);
    EXPECT_EQ(state.size, bytes.size());
    EXPECT_EQ(state.digest, DigestOf(bytes));
    EXPECT_FALSE(ReadFileContentState(dir.File("missing.txt")).exists);
    EXPECT_FALSE(ReadFileContentState(dir.Path()).exists);  // a folder
}

}  // namespace
