// The emulated terminal's command set, driven in-process message by message.

#include "components/parlink/protocol/LinkCrc.h"
#include "components/parlink/protocol/LinkMessage.h"
#include "components/parlink/protocol/RecordBlockStream.h"
#include "tests/support/TestSupport.h"
#include "tools/kxterminal/TerminalDevice.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

using Link::Message;
using Link::MessageType;
using Link::TextCoding;

namespace {

class TerminalDevice : public ::testing::Test {
protected:
    void SetUp() override {
        m_state = std::make_unique<CTerminalState>(dir.Path());
        ASSERT_TRUE(m_state->EnsureFolders());
    }
    CTerminalDevice& Device() {
        if (!m_device) {
            m_device = std::make_unique<CTerminalDevice>(*m_state);
            m_device->BeginSession();
        }
        return *m_device;
    }
    void Command(const QString& c) { Device().Handle({MessageType::Command, c, 0, {}}); }
    void Data(const QString& d) { Device().Handle({MessageType::Data, d, 0, {}}); }
    // A command with the one value it takes (a filter, a current value, the stamp).
    void Command(const QString& c, const QString& value) {
        Command(c);
        Data(value);
    }
    void End() { Device().Handle({MessageType::EndData, QString(), 0, {}}); }
    void Poll(std::uint32_t id) { Device().Handle({MessageType::Poll, QString(), id, {}}); }
    // Everything the terminal says until now (answers as texts, poll replies as "#id").
    QStringList Said(std::int64_t now = 0) {
        QByteArray out;
        bool urgent = false;
        do {
            out.clear();
            Device().Pump(now, out, 1 << 20, &urgent);
            m_parser.Feed(out);
        } while (!out.isEmpty());
        QStringList said;
        Message m;
        while (m_parser.Next(&m))
            said << (m.type == MessageType::Answer ? m.text : QStringLiteral("#%1").arg(m.id));
        return said;
    }
    void Upload(const QString& command, const QStringList& records) {
        Command(command);
        for (const QString& r : records)
            for (qsizetype off = 0; off <= r.size(); off += 200) Data(r.mid(off, 200));
        End();
    }
    // A whole directory load as the program sends it: "002", the upload of
    // `command`, then "003" to commit it.
    void Load(const QString& command, const QStringList& records) {
        Command(QStringLiteral("002"));
        Upload(command, records);
        Command(QStringLiteral("003"));
    }

    CTestDir dir;
    std::unique_ptr<CTerminalState> m_state;
    std::unique_ptr<CTerminalDevice> m_device;
    Link::CMessageParser m_parser;
};

const QString kEnd = QString(QChar(0x0004));

}  // namespace

TEST_F(TerminalDevice, RecordsArePutTogetherFromTheirPieces) {
    const QString r199(199, QChar(u'a')), r200(200, QChar(u'б')), r401(401, QChar(u'c'));
    Load(QStringLiteral("171"), {r199, r200, r401, QStringLiteral("1;2;3")});
    EXPECT_EQ(Said(), QStringList{QStringLiteral("SYNC")});
    EXPECT_EQ(dir.Read(QStringLiteral("directories/ndocsplan.ux9")),
              Cp1251(r199) + "\r\n" + Cp1251(r200) + "\r\n" + Cp1251(r401) + "\r\n" + "1;2;3\r\n");
}

TEST_F(TerminalDevice, RejectedLoadStoresNothingAndAnswersNumberAndText) {
    dir.Write(QStringLiteral("scenario.ini"), QStringLiteral("[scenario]\nRejectNumber=7\nRejectText=Нет места\n").toUtf8());
    Load(QStringLiteral("111"), {QStringLiteral("1;op")});
    EXPECT_EQ(Said(), QStringList{QStringLiteral("REJECT;7;Нет места")});
    EXPECT_FALSE(QFile::exists(dir.File(QStringLiteral("directories/opers.ux3"))));
    EXPECT_TRUE(QDir(dir.File(QStringLiteral(".staging"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(TerminalDevice, DelayedSynchronisationAnswersEmptyPollsMeanwhile) {
    dir.Write(QStringLiteral("scenario.ini"), "[scenario]\nSyncDelayMs=1000\n");
    Load(QStringLiteral("121"), {QStringLiteral("5;Иванов")});
    Poll(1);
    EXPECT_EQ(Said(100), QStringList{QStringLiteral("#1")});
    EXPECT_FALSE(QFile::exists(dir.File(QStringLiteral("directories/authors.ux4"))));
    EXPECT_EQ(Device().NextTimer(), 1100);  // from the moment "003" was handled
    Poll(2);
    EXPECT_EQ(Said(1099), QStringList{QStringLiteral("#2")});
    Poll(3);
    EXPECT_EQ(Said(1100), (QStringList{QStringLiteral("SYNC"), QStringLiteral("#3")}));
    EXPECT_EQ(dir.Read(QStringLiteral("directories/authors.ux4")), Cp1251(QStringLiteral("5;Иванов\r\n")));
}

TEST_F(TerminalDevice, WithheldSynchronisationDiscardsTheLoadAtTheEndOfTheSession) {
    dir.Write(QStringLiteral("scenario.ini"), "[scenario]\nWithholdSync=1\n");
    Load(QStringLiteral("131"), {QStringLiteral("1;A")});
    Poll(1);
    EXPECT_EQ(Said(600000), QStringList{QStringLiteral("#1")});
    Device().EndSession();
    EXPECT_FALSE(QFile::exists(dir.File(QStringLiteral("directories/address.ux5"))));
}

TEST_F(TerminalDevice, JournalFiltersCompareIdsAsNumbersAndTextsExactly) {
    dir.Write(QStringLiteral("journal.txt"),
              Cp1251(QStringLiteral("111;1;05;2;3;4;Сыр;d;\r\n"
                                    "222;1;5;2;3;4;сыр;d;\r\n"
                                    "\r\n"
                                    "333;1;6;2;3;4;Сыр;d;\r\n"
                                    "111;1;5;9;3;4;Сыр;d;s;with;semicolons\r\n")));
    Command(QStringLiteral("401"), QStringLiteral("5"));
    Command(QStringLiteral("408"), QStringLiteral("Сыр"));
    Command(QStringLiteral("020"));
    Command(QStringLiteral("031"));
    EXPECT_EQ(Said(), (QStringList{QStringLiteral("2"), QStringLiteral("1;111;1;05;2;3;4;Сыр;d;"),
                                   QStringLiteral("4;111;1;5;9;3;4;Сыр;d;s;with;semicolons"), kEnd}));
    Command(QStringLiteral("409"), QStringLiteral("111"));
    Command(QStringLiteral("403"), QStringLiteral("9"));
    Command(QStringLiteral("021"));
    EXPECT_EQ(Said(), (QStringList{QStringLiteral("111;1;5;9;3;4;Сыр;d;s;with;semicolons"), kEnd}));
    Command(QStringLiteral("40R"));
    Command(QStringLiteral("020"));
    EXPECT_EQ(Said(), QStringList{QStringLiteral("4")});
}

TEST_F(TerminalDevice, TextFiltersAreKeptExactlyAndNeverReachTheIdentity) {
    dir.Write(QStringLiteral("journal.txt"), Cp1251(QStringLiteral("111;1;5;2;3;4; Сыр;d;\r\n"
                                                                   "222;1;5;2;3;4;Сыр;d;\r\n")));
    // Blanks around a ware are part of it.
    Command(QStringLiteral("408"), QStringLiteral(" Сыр"));
    Command(QStringLiteral("021"));
    EXPECT_EQ(Said(), (QStringList{QStringLiteral("111;1;5;2;3;4; Сыр;d;"), kEnd}));
    // A barcode with line breaks matches no journal line and stays a barcode:
    // it does not become a section of the terminal's settings.
    Command(QStringLiteral("40R"));
    Command(QStringLiteral("409"), QStringLiteral("111\n[terminal]\nProgram=Чужой\r\\"));
    Command(QStringLiteral("020"));
    Command(QStringLiteral("--s"));
    EXPECT_EQ(Said(), (QStringList{QStringLiteral("0"), QStringLiteral("Orvane;4.4.0")}));
    EXPECT_EQ(m_state->Filter().barcode, QStringLiteral("111\n[terminal]\nProgram=Чужой\r\\"));
}

TEST_F(TerminalDevice, ShortJournalScenarioEndsEarlyButAnnouncesAll) {
    QByteArray journal;
    for (int i = 1; i <= 10; ++i) journal += QByteArray::number(i) + ";1;1;1;1;1;w;d;\r\n";
    dir.Write(QStringLiteral("journal.txt"), journal);
    dir.Write(QStringLiteral("scenario.ini"), "[scenario]\nJournalLimit=9\n");
    Command(QStringLiteral("020"));
    Command(QStringLiteral("021"));
    const QStringList said = Said();
    ASSERT_EQ(said.size(), 11);
    EXPECT_EQ(said.first(), QStringLiteral("10"));
    EXPECT_EQ(said.last(), kEnd);
}

TEST_F(TerminalDevice, AJournalInTheCodePageStopsWhereTheScenarioHoldsItWhateverTheBudget) {
    // Lines kept in the agreed code page go many at a time; a hold still
    // falls exactly on its line, and the rest follows once released.
    QByteArray journal;
    for (int i = 1; i <= 5000; ++i) journal += QByteArray::number(i) + ";\xC6;1;1;1;1;w;d;\r\n";
    dir.Write(QStringLiteral("journal.txt"), journal);
    dir.Write(QStringLiteral("scenario.ini"), "[scenario]\nHoldJournalAfter=1234\n");
    CTerminalDevice& device = Device();
    device.BeginSession(TextCoding::Windows1251);
    m_parser.SetTextCoding(TextCoding::Windows1251);
    Command(QStringLiteral("021"));
    const QStringList before = Said();
    ASSERT_EQ(before.size(), 1234);
    EXPECT_EQ(before.last(), QStringLiteral("1234;Ж;1;1;1;1;w;d;"));
    EXPECT_TRUE(device.Busy() || device.NextTimer() != std::numeric_limits<std::int64_t>::max());
    dir.Write(QStringLiteral("release"), "");
    const QStringList after = Said(1000);
    ASSERT_EQ(after.size(), 5000 - 1234 + 1);
    EXPECT_EQ(after.first(), QStringLiteral("1235;Ж;1;1;1;1;w;d;"));
    EXPECT_EQ(after[after.size() - 2], QStringLiteral("5000;Ж;1;1;1;1;w;d;"));
    EXPECT_EQ(after.last(), kEnd);
}

TEST_F(TerminalDevice, AnswersKeepTheOrderOfCommandsBehindALongStream) {
    QByteArray journal;
    for (int i = 0; i < 5000; ++i) journal += "4600;1;1;1;1;1;w;d;\r\n";
    dir.Write(QStringLiteral("journal.txt"), journal);
    Command(QStringLiteral("021"));
    Poll(9);
    Command(QStringLiteral("--s"));
    // Pump with a small budget, as the link takes the answers bit by bit.
    QStringList said;
    QByteArray out;
    bool urgent = false;
    for (int i = 0; i < 100000 && said.size() < 5003; ++i) {
        out.clear();
        Device().Pump(0, out, 512, &urgent);
        m_parser.Feed(out);
        Message m;
        while (m_parser.Next(&m)) said << (m.type == MessageType::Answer ? m.text : QStringLiteral("#%1").arg(m.id));
    }
    ASSERT_EQ(said.size(), 5003);
    EXPECT_EQ(said[4999], QStringLiteral("4600;1;1;1;1;1;w;d;"));
    EXPECT_EQ(said[5000], kEnd);
    EXPECT_EQ(said[5001], QStringLiteral("#9"));
    EXPECT_EQ(said[5002], QStringLiteral("Orvane;4.4.0"));
}

TEST_F(TerminalDevice, MessagesHeldBehindAStreamKeepTheirBytesWhenTheParserMovesOn) {
    // As kxterminal's loop reads: messages as views into the parser's buffer,
    // record pieces of a load taken at once, the rest held. What waits behind
    // a running journal outlives the buffer it was cut from.
    QByteArray journal;
    for (int i = 0; i < 5000; ++i) journal += "4600;1;1;1;1;1;w;d;\r\n";
    dir.Write(QStringLiteral("journal.txt"), journal);
    CTerminalDevice& device = Device();
    device.BeginSession(TextCoding::Windows1251);
    QStringList echoed;
    QByteArray first;
    Link::AppendTextMessage(first, MessageType::Command, QStringLiteral("021"), TextCoding::Windows1251);
    Link::AppendTextMessage(first, MessageType::Command, QStringLiteral("ECH"), TextCoding::Windows1251);
    for (int i = 0; i < 40; ++i) {
        echoed << QStringLiteral("эхо %1 ").arg(i).repeated(5);
        Link::AppendTextMessage(first, MessageType::Data, echoed.back(), TextCoding::Windows1251);
    }
    Link::CMessageParser parser;
    parser.SetTextCoding(TextCoding::Windows1251);
    parser.SetKeepCodePageBytes(true);
    parser.SetTextsAsUnownedBytes(true);
    const auto feed = [&](QByteArray bytes) {
        parser.Feed(bytes);
        bytes = QByteArray();  // the parser's buffer is the only one left
        device.TakeFrom(parser);
    };
    feed(QByteArray(first.constData(), first.size()));
    QStringList said;
    Link::CMessageParser answers;
    answers.SetTextCoding(TextCoding::Windows1251);
    const auto pump = [&](qsizetype budget) {
        QByteArray out;
        bool urgent = false;
        device.Pump(0, out, budget, &urgent);
        answers.Feed(out);
        Message m;
        while (answers.Next(&m)) said << Link::MessageText(m);
        return !out.isEmpty();
    };
    ASSERT_TRUE(pump(512));
    ASSERT_TRUE(device.Busy());
    // The next bytes from the line replace the parser's buffer; whatever
    // memory the old one had is written over.
    QByteArray second;
    Link::AppendEmptyMessage(second, MessageType::EndData);
    feed(second);
    for (int i = 0; i < 64; ++i) QByteArray(first.size(), 'X').detach();
    while (pump(1 << 20)) {
    }
    ASSERT_EQ(said.size(), 5000 + 1 + 40);
    EXPECT_EQ(said[5000], kEnd);
    EXPECT_EQ(said.mid(5001), echoed);
}

TEST_F(TerminalDevice, FileTransferStoresTheFileOnlyWhenItArrivedWhole) {
    const QByteArray content = QByteArray("SQLite format 3\0binary\xff\x00\x01", 25).repeated(100);
    const QString b64 = QString::fromLatin1(content.toBase64());
    const auto crc = Link::Crc32(content.constData(), static_cast<size_t>(content.size()));
    auto send = [&](const QString& remote, const QString& sizeCrc) {
        Command(QStringLiteral("FPB"), remote);
        for (qsizetype off = 0; off < b64.size(); off += 200) Data(b64.mid(off, 200));
        Command(QStringLiteral("FPE"), sizeCrc);
        return Said();
    };
    const QString good = QStringLiteral("%1;%2").arg(content.size()).arg(crc, 8, 16, QLatin1Char('0'));
    EXPECT_EQ(send(QStringLiteral("\\Application\\Orvane\\mainbase.db"), good),
              QStringList{QStringLiteral("OK;%1").arg(content.size())});
    EXPECT_EQ(dir.Read(QStringLiteral("files/Application/Orvane/mainbase.db")), content);

    const QString bad = QStringLiteral("%1;%2").arg(content.size()).arg(crc ^ 1, 8, 16, QLatin1Char('0'));
    const QStringList damaged = send(QStringLiteral("\\Application\\other.db"), bad);
    ASSERT_EQ(damaged.size(), 1);
    EXPECT_TRUE(damaged[0].startsWith(QLatin1String("ERR;")));
    EXPECT_FALSE(QFile::exists(dir.File(QStringLiteral("files/Application/other.db"))));
    EXPECT_FALSE(QFile::exists(dir.File(QStringLiteral("files/Application/other.db.part"))));

    const QStringList escaped = send(QStringLiteral("\\..\\..\\outside.db"), good);
    ASSERT_EQ(escaped.size(), 1);
    EXPECT_TRUE(escaped[0].startsWith(QLatin1String("ERR;")));
    EXPECT_FALSE(QFile::exists(dir.File(QStringLiteral("../outside.db"))));
}

TEST_F(TerminalDevice, CurrentValuesStampAndClearGoToTheStateFolder) {
    dir.Write(QStringLiteral("journal.txt"), "1;1;1;1;1;1;w;d;\r\n");
    Command(QStringLiteral("881"), QStringLiteral("12"));
    Command(QStringLiteral("887"), QStringLiteral("-1"));
    Command(QStringLiteral("303"), QStringLiteral("20250102030405"));
    Command(QStringLiteral("001"));
    Data(QStringLiteral("stray data"));
    EXPECT_TRUE(Said().isEmpty());
    const QString ini = QString::fromUtf8(dir.Read(QStringLiteral("terminal.ini")));
    EXPECT_TRUE(ini.contains(QLatin1String("Operation=12")));
    EXPECT_TRUE(ini.contains(QLatin1String("Document=-1")));
    EXPECT_TRUE(ini.contains(QLatin1String("Stamp=20250102030405")));
    EXPECT_TRUE(dir.Read(QStringLiteral("journal.txt")).isEmpty());
    const QString log = QString::fromUtf8(dir.Read(QStringLiteral("commands.log")));
    EXPECT_TRUE(log.contains(QLatin1String("C 881\nD 12\n")));
    EXPECT_TRUE(log.contains(QLatin1String("? data without command")));
}

TEST_F(TerminalDevice, RecordBlocksAreStoredAsTheirRecordsAndABadBlockRejectsTheLoad) {
    m_device = std::make_unique<CTerminalDevice>(*m_state);
    m_device->BeginSession(TextCoding::Windows1251, false, true);
    m_parser.SetTextCoding(TextCoding::Windows1251);
    m_parser.SetRecordBlocks(true);
    // The protocol document's first example block, between ordinary records.
    const QByteArray documented = QByteArray::fromHex(
        "01 02 03 02 00 02 02 02 01 54 00 00 01 0C 29 01 02 00 00 00 02 00 06 06 02 00 00 01 00 00 00 02 00 08 09 11 "
        "00 4D 69 6C 6B 20 31 20 6C 4B 65 66 69 72 20 31 20 6C 02 00 00 02 01 1B 8C 8A FB 8B B2 0D 01 02 00 01 01 02 "
        "00 0D 0D 02 00 09 00 00 00");
    Command(QStringLiteral("002"));
    Command(QStringLiteral("151"));
    Data(QStringLiteral("first"));
    Device().Handle({MessageType::RecordBlock, QString(), 0, documented});
    Data(QStringLiteral("last"));
    End();
    Command(QStringLiteral("003"));
    EXPECT_EQ(Said(), QStringList{QStringLiteral("SYNC")});
    EXPECT_EQ(dir.Read(QStringLiteral("directories/wares.ux7")),
              QByteArray("first\r\nT000041;Milk 1 l;4601234567893\r\nT000042;Kefir 1 l;4601234567800\r\nlast\r\n"));

    // A block that is not sound (one byte short) leaves the kept directory as it was.
    Command(QStringLiteral("002"));
    Command(QStringLiteral("151"));
    Device().Handle({MessageType::RecordBlock, QString(), 0, documented.chopped(1)});
    End();
    Command(QStringLiteral("003"));
    EXPECT_TRUE(Said().value(0).startsWith(QStringLiteral("REJECT;")));
    EXPECT_EQ(dir.Read(QStringLiteral("directories/wares.ux7")),
              QByteArray("first\r\nT000041;Milk 1 l;4601234567893\r\nT000042;Kefir 1 l;4601234567800\r\nlast\r\n"));
}

TEST_F(TerminalDevice, JournalLinesGoInBlocksThatGiveTheSameAnswers) {
    QByteArray journal;
    for (int i = 0; i < 5000; ++i) journal += "46" + QByteArray::number(10000000000 + i) + ";1;2;3;4;5;\xD2" + QByteArray::number(i) + ";08.12.2026 10:00:00;\r\n";
    dir.Write(QStringLiteral("journal.txt"), journal);
    m_device = std::make_unique<CTerminalDevice>(*m_state);
    m_device->BeginSession(TextCoding::Windows1251, false, true);
    m_parser.SetTextCoding(TextCoding::Windows1251);
    m_parser.SetRecordBlocks(true);
    Command(QStringLiteral("021"));
    QByteArray out;
    bool urgent = false;
    QStringList lines;
    int blocks = 0;
    do {
        out.clear();
        Device().Pump(0, out, 1 << 20, &urgent);
        m_parser.Feed(out);
        Message m;
        while (m_parser.Next(&m)) {
            if (m.type == MessageType::AnswerBlock) {
                ++blocks;
                ASSERT_TRUE(Link::ReadAnswerBlock(m.body, &lines));
            } else if (m.type == MessageType::Answer) {
                lines << m.text;
            }
        }
    } while (!out.isEmpty());
    ASSERT_EQ(lines.size(), 5001);
    EXPECT_EQ(lines.last(), kEnd);
    EXPECT_EQ(Cp1251(lines[4999]) + "\r\n", journal.mid(journal.lastIndexOf("\r\n", journal.size() - 3) + 2));
    EXPECT_EQ(blocks, 2);  // 4096 lines, then the rest
}
