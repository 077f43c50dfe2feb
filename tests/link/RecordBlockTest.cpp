// Record blocks: every record comes back byte for byte whatever it holds,
// each column transform does what it is there for, and bytes that are not a
// sound block are refused, never trusted.

#include "components/parlink/protocol/LinkCompression.h"
#include "components/parlink/protocol/RecordBlock.h"
#include "components/parlink/protocol/RecordBlockStream.h"
#include "platform/CodePage.h"

#include <gtest/gtest.h>

#include <QList>
#include <QRandomGenerator>
#include <QStringList>

#include <utility>

using namespace Link;

namespace {

RecordBlock Block(std::vector<QByteArray> records, BlockCoding coding = BlockCoding::Windows1251) {
    RecordBlock b;
    b.coding = coding;
    b.records = std::move(records);
    return b;
}

std::vector<QByteArray> RoundTrip(const RecordBlock& in, int level = 1) {
    const QByteArray bytes = EncodeRecordBlock(in, level);
    RecordBlock out;
    EXPECT_TRUE(DecodeRecordBlock(bytes.constData(), bytes.size(), &out));
    EXPECT_EQ(out.coding, in.coding);
    return out.records;
}

QByteArray Ean13(QRandomGenerator& random, bool validCheck = true) {
    QByteArray code = "46";
    for (int d = 0; d < 10; ++d) code += char('0' + random.bounded(10));
    int sum = 0;
    for (int d = 0; d < 12; ++d) sum += (code[d] - '0') * (d % 2 ? 3 : 1);
    const int check = (10 - sum % 10) % 10;
    return code + char('0' + (validCheck ? check : (check + 1) % 10));
}

QByteArray Hex(const QByteArray& b) { return b.toHex(' ').toUpper(); }

}  // namespace

TEST(RecordBlock, EveryRecordComesBackByteForByteWhateverItHolds) {
    // Each column holds mostly what its transform expects and then what it
    // does not: the odd fields must come back exactly too.
    QRandomGenerator random(7);
    std::vector<QByteArray> records;
    for (int i = 0; i < 300; ++i)
        records.push_back("\xD2" + QByteArray::number(100000 + i).right(6) + ';' + "\xCC\xEE\xEB\xEE\xEA\xEE 1 \xEB;" +
                          Ean13(random, i % 7 != 0) + ";12.50;" +
                          QByteArray("08.12.2026 10:") + QByteArray::number(10 + i % 50) + ":00;" +
                          // counts of one to six digits: six groups of numbers in one column
                          QByteArray::number(random.bounded(1, 10)) + QByteArray(i % 6, '0' + char(i % 10)));
    records.push_back("");                                    // an empty line
    records.push_back(";;;;");                                // empty fields only
    records.push_back("not a record at all");                 // one field
    records.push_back("a;b\r\nc;d\r");                        // CR LF inside
    records.push_back(QByteArray("\0;\xFF;\x04", 5));         // NUL, 0xFF, U+0004
    records.push_back("0000000000000000000;99999999999999999999;007");  // 19 zeros, 20 digits
    records.push_back("T1;x;4600000000000;1.;29.02.2025 10:00:00");     // no such date
    records.push_back("T2;  two  spaces ;00000000;,5;31.12.9999 23:59:59");
    records.push_back(QByteArray(70, ';'));                   // more fields than columns
    records.push_back(QByteArray(3000, 'x'));                 // a long field
    const std::vector<QByteArray> back = RoundTrip(Block(records), 19);
    ASSERT_EQ(back.size(), records.size());
    for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(Hex(back[i]), Hex(records[i])) << "record " << i;
    EXPECT_EQ(RoundTrip(Block(records, BlockCoding::Utf8), 1), records);
}

TEST(RecordBlock, EachTransformEarnsItsPlace) {
    // 4096 wares as a shop keeps them: a code counting up, a name of repeated
    // words, a valid EAN-13. Text of this shape packs to about 60 bytes a
    // record with zstd alone; the columns must do far better.
    QRandomGenerator random(11);
    const QList<QByteArray> words{"\xCC\xEE\xEB\xEE\xEA\xEE", "\xD1\xFB\xF0", "\xD7\xE0\xE9", "500", "\xE3",
                                  "1", "\xEB", "\"\xC0\xE3\xF0\xEE\"", "\"\xC4\xEE\xEC\xE8\xEA\""};
    std::vector<QByteArray> records;
    qint64 plain = 0;
    for (int i = 0; i < kBlockMaxRecords; ++i) {
        QByteArray name = words[random.bounded(3)] + ' ' + words[3 + random.bounded(3)] + ' ' +
                          words[random.bounded(6, 9)];
        records.push_back("\xD2" + QByteArray::number(1000000 + i).right(6) + ';' + name + ';' + Ean13(random));
        plain += records.back().size() + 2;
    }
    const QByteArray bytes = EncodeRecordBlock(Block(records), 19);
    // The barcodes alone carry 10 random digits (33.2 bits); the name 4.8
    // bits; the code nothing. Anything above 6 bytes a record means a
    // transform is not used.
    EXPECT_LT(bytes.size(), 6 * kBlockMaxRecords) << "plain " << plain;
    EXPECT_EQ(RoundTrip(Block(records), 19), records);

    // Invalid check digits cost one digit each and still come back.
    for (auto& r : records) r = r.left(r.size() - 1) + char('0' + (r.back() - '0' + 1) % 10);
    const QByteArray invalid = EncodeRecordBlock(Block(records), 19);
    EXPECT_GT(invalid.size(), bytes.size());
    EXPECT_EQ(RoundTrip(Block(records), 19), records);
}

// At the terminal's level a column of a few values goes as Huffman-coded
// literals where they are random, and through zstd where they cycle: a
// cycle packs to almost nothing there, and to a bit a value or more as
// literals.
TEST(RecordBlock, AtTheTerminalsLevelFewValuesGoAsLiteralsUnlessTheyCycle) {
    QRandomGenerator random(3);
    std::vector<QByteArray> cycling, scattered;
    for (int i = 0; i < kBlockMaxRecords; ++i) {
        cycling.push_back(QByteArray::number(i % 3 + 1) + ';' + QByteArray::number(i % 4 + 1));
        scattered.push_back(QByteArray::number(random.bounded(1, 4)) + ';' + QByteArray::number(random.bounded(1, 5)));
    }
    const QByteArray cycles = EncodeRecordBlock(Block(cycling), 1);
    EXPECT_LT(cycles.size(), 200) << "a cycle of values went as literals";
    EXPECT_EQ(RoundTrip(Block(cycling), 1), cycling);
    // Random values: about their entropy (1.58 and 2 bits), which zstd at
    // level 1 does not reach.
    const QByteArray random1 = EncodeRecordBlock(Block(scattered), 1);
    EXPECT_LT(random1.size(), kBlockMaxRecords * (1.67 + 2.0) / 8 + 200);
    EXPECT_EQ(RoundTrip(Block(scattered), 1), scattered);
}

TEST(RecordBlock, ARunsEncoderKeepsEachColumnsWayWhileItFitsAndChoosesAfreshWhenItNoLongerDoes) {
    // Journal lines: barcode, quantity, date and time, a comment of few words.
    QRandomGenerator random(5);
    const QList<QByteArray> comments{"", "", "", "\xE1\xF0\xE0\xEA", "\xEF\xE0\xF0\xF2\xE8\xFF 7"};
    const auto scans = [&](int count) {
        std::vector<QByteArray> lines;
        for (int i = 0; i < count; ++i)
            lines.push_back(Ean13(random) + ';' + QByteArray::number(1 + random.bounded(40)) + ";0" +
                            QByteArray::number(1 + random.bounded(9)) + ".12.2026 1" + QByteArray::number(random.bounded(10)) +
                            ":3" + QByteArray::number(random.bounded(10)) + ":00;" + comments[random.bounded(5)]);
        return lines;
    };
    // Then the same columns hold other things: names where barcodes were,
    // plain numbers where dates were, words that never repeat.
    std::vector<QByteArray> changed;
    for (int i = 0; i < 2000; ++i)
        changed.push_back("\xD2\xEE\xE2\xE0\xF0 " + Ean13(random).right(5) + ';' + QByteArray::number(random.bounded(9)) + ';' +
                          QByteArray::number(random.bounded(100000)) + ';' + Ean13(random).right(8));
    const std::vector<std::vector<QByteArray>> run{scans(kBlockMaxRecords), scans(3000), changed, scans(1000)};

    CRecordBlockEncoder encoder(kZstdLevel);
    for (size_t b = 0; b < run.size(); ++b) {
        const std::vector<QByteArrayView> views(run[b].begin(), run[b].end());
        const QByteArray inRun = encoder.Encode(BlockCoding::Windows1251, views);
        const QByteArray alone = EncodeRecordViews(BlockCoding::Windows1251, views, kZstdLevel);
        RecordBlock back;
        ASSERT_TRUE(DecodeRecordBlock(inRun.constData(), inRun.size(), &back)) << "block " << b;
        EXPECT_EQ(back.records, run[b]) << "block " << b;
        // Where the columns keep their kind, the way kept is the way chosen
        // afresh; where they change, they are chosen afresh and pack as well.
        if (b == 1) {
            EXPECT_EQ(Hex(inRun), Hex(alone));
        }
        EXPECT_LE(inRun.size(), alone.size() + alone.size() / 50) << "block " << b;
    }
}

// The worked examples of the protocol document, byte for byte: a second
// implementation checks its encoder and decoder against the same bytes.
TEST(RecordBlock, DocumentedVectors) {
    struct Vector {
        std::vector<QByteArray> records;
        const char* hex;
    };
    const Vector vectors[] = {
        // Two wares: a code with a prefix, a name (plain text: two names are
        // too few for a dictionary to pay), an EAN-13 with its check digit left out.
        {{"T000041;Milk 1 l;4601234567893", "T000042;Kefir 1 l;4601234567800"},
         "01 02 03 02 00 02 02 02 01 54 00 00 01 0C 29 01 02 00 00 00 02 00 06 06 02 00 00 01 00 00 00 02 00 08 09 11 "
         "00 4D 69 6C 6B 20 31 20 6C 4B 65 66 69 72 20 31 20 6C 02 00 00 02 01 1B 8C 8A FB 8B B2 0D 01 02 00 01 01 02 "
         "00 0D 0D 02 00 09 00 00 00"},
        // Words that repeat, one field a record.
        {{"Milk 1 l", "Milk 1 l", "Milk 1 l", "Milk 1 l", "Milk 1 l", "Milk 1 l"},
         "01 06 01 06 00 00 00 00 00 00 00 01 0A 00 03 04 4D 69 6C 6B 01 31 01 6C 06 00 02 02 02 02 02 02 06 00 00 00 "
         "00 00 00 00 06 00 01 00 00 00 00 00 06 00 02 00 00 00 00 00 00 00 00 00"},
    };
    for (const Vector& v : vectors) {
        const QByteArray bytes = EncodeRecordBlock(Block(v.records), 19);
        EXPECT_EQ(Hex(bytes).toStdString(), std::string(v.hex));
        RecordBlock out;
        const QByteArray given = QByteArray::fromHex(QByteArray(v.hex).replace(' ', ""));
        ASSERT_TRUE(DecodeRecordBlock(given.constData(), given.size(), &out));
        EXPECT_EQ(out.records, v.records);
    }
}

TEST(RecordBlock, BytesThatAreNotASoundBlockAreRefused) {
    const QByteArray good = EncodeRecordBlock(Block({"T000041;Milk 1 l;4601234567893", "x;;12.5"}), 1);
    RecordBlock out;
    ASSERT_TRUE(DecodeRecordBlock(good.constData(), good.size(), &out));
    // Every cut short and every one-byte change either is refused or decodes
    // to records that encode and decode to themselves again.
    for (qsizetype n = 0; n < good.size(); ++n) EXPECT_FALSE(DecodeRecordBlock(good.constData(), n, &out)) << n;
    for (qsizetype i = 0; i < good.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            QByteArray bad = good;
            bad[i] = static_cast<char>(bad[i] ^ (1 << bit));
            if (!DecodeRecordBlock(bad.constData(), bad.size(), &out)) continue;
            EXPECT_EQ(RoundTrip(out), out.records) << i << ":" << bit;
        }
    }
    // Bytes after the block, a coding that does not exist, no records,
    // more records than a block holds.
    const QByteArray longer = good + 'x';
    EXPECT_FALSE(DecodeRecordBlock(longer.constData(), longer.size(), &out));
    QByteArray coding = good;
    coding[0] = 2;
    EXPECT_FALSE(DecodeRecordBlock(coding.constData(), coding.size(), &out));
    const QByteArray none = QByteArray::fromHex("0100010100");
    EXPECT_FALSE(DecodeRecordBlock(none.constData(), none.size(), &out));
    const QByteArray many = QByteArray::fromHex("01812001");
    EXPECT_FALSE(DecodeRecordBlock(many.constData(), many.size(), &out));
    // A dictionary word repeated past the block's byte bound: refused, not grown.
    auto stored = [](const QByteArray& raw) {
        QByteArray s;
        for (quint32 n = raw.size(); ; n >>= 7) {
            s += char((n & 0x7F) | (n >= 0x80 ? 0x80 : 0));
            if (n < 0x80) break;
        }
        return s + char(0) + raw;
    };
    const QByteArray word = QByteArray::fromHex("01 80 08") + QByteArray(1024, 'w');
    const QByteArray bomb = QByteArray::fromHex("010101") + stored(QByteArray(1, 0)) + char(1) + stored(word) +
                            stored(QByteArray::fromHex("D00F")) + stored(QByteArray(1, 0)) + stored(QByteArray(1, 0)) +
                            stored(QByteArray(1, 0)) + stored(QByteArray(1998, 0)) + stored({});
    EXPECT_FALSE(DecodeRecordBlock(bomb.constData(), bomb.size(), &out));
    const QByteArray small = QByteArray::fromHex("010101") + stored(QByteArray(1, 0)) + char(1) + stored(word) +
                             stored(QByteArray::fromHex("02")) + stored(QByteArray(1, 0)) + stored(QByteArray(1, 0)) +
                             stored(QByteArray(1, 0)) + stored({}) + stored({});
    ASSERT_TRUE(DecodeRecordBlock(small.constData(), small.size(), &out));
    EXPECT_EQ(out.records[0].size(), 3 * 1024 + 2);
}

// The program's writer: whatever order of records, pieces and other messages
// the caller makes, the terminal reads the same records in the same order as
// from data texts alone.
TEST(RecordBlockWriter, TheTerminalReadsTheSameRecordsAsFromDataTexts) {
    using Link::CRecordBlockWriter;
    QByteArray stream;
    CRecordBlockWriter writer(TextCoding::Windows1251, 1);
    QStringList sent;  // records as the terminal must see them, in order
    auto send = [&](const QString& record) {
        for (qsizetype at = 0;; at += kRecordPiece) {
            const QString piece = record.mid(at, kRecordPiece);
            if (!writer.Data(piece, stream)) AppendTextMessage(stream, MessageType::Data, piece, TextCoding::Windows1251);
            if (piece.size() < kRecordPiece) break;
        }
        sent << record;
    };
    writer.Command(QStringLiteral("151"), stream);
    AppendTextMessage(stream, MessageType::Command, QStringLiteral("151"));
    for (int i = 0; i < 5000; ++i) send(QStringLiteral("Т%1;Молоко %2 л;460%3").arg(i).arg(i % 3).arg(i, 10, 10, QLatin1Char('0')));
    send(QStringLiteral("漢字;x"));                       // outside the code page
    send(QString(450, QLatin1Char('w')));                 // three pieces
    send(QString(400, QLatin1Char('v')));                 // two full pieces and an empty one
    // A poll in the middle of a record: the record goes on as data texts.
    writer.Data(QString(kRecordPiece, QLatin1Char('p')), stream);
    writer.Flush(stream);
    AppendIdMessage(stream, MessageType::Poll, 7);
    writer.Data(QStringLiteral("q"), stream);
    sent << QString(kRecordPiece, QLatin1Char('p')) + QStringLiteral("q");
    send(QStringLiteral("after;the;poll"));
    writer.Command(QStringLiteral("003"), stream);

    // The terminal's view: records from blocks and from data texts in order.
    CMessageParser parser;
    parser.SetTextCoding(TextCoding::Windows1251);
    parser.SetRecordBlocks(true);
    parser.Feed(stream);
    QStringList got;
    QString piece;
    int blocks = 0, polls = 0;
    Message m;
    while (parser.Next(&m)) {
        if (m.type == MessageType::RecordBlock) {
            RecordBlock block;
            ASSERT_TRUE(DecodeRecordBlock(m.body.constData(), m.body.size(), &block));
            ASSERT_TRUE(piece.isEmpty()) << "a block in the middle of a record";
            for (const QByteArray& r : block.records) got << CodePage::FromWindows1251(r);
            ++blocks;
        } else if (m.type == MessageType::Data) {
            piece += m.text;
            if (m.text.size() < kRecordPiece) got << std::exchange(piece, QString());
        } else if (m.type == MessageType::Poll) {
            ++polls;
        }
    }
    EXPECT_EQ(got, sent);
    EXPECT_EQ(polls, 1);
    EXPECT_GE(blocks, 3);  // 4096 records, the rest before the odd record, the rest after
    // Without blocks agreed a terminal skips them: only the data texts remain.
    CMessageParser old;
    old.SetTextCoding(TextCoding::Windows1251);
    old.Feed(stream);
    int data = 0;
    while (old.Next(&m)) {
        EXPECT_NE(m.type, MessageType::RecordBlock);
        data += m.type == MessageType::Data ? 1 : 0;
    }
    EXPECT_LT(data, 20);
}
