// Records as the program's files keep them: a load sent as Windows-1251
// bytes and a journal taken as them must be, on both ends, exactly what the
// text path gives, whatever a record holds and whatever the session agreed.

#include "tests/link/LinkTestSupport.h"

#include "platform/CodePage.h"

#include <QCoreApplication>
#include <QDir>

namespace {

// Records a file may hold: Cyrillic, the page's unassigned 0x98 and its last
// byte, separators, records longer than a piece (cut inside a character
// run), and records the page cannot hold, which only go as text.
QStringList AwkwardRecords() {
    return {QStringLiteral("Т000001;Молоко 3,2% 1 л;4601234567893"),
            QStringLiteral(";;;"),
            QString(QChar(0x0098)) + QStringLiteral("яЯЁё№;0"),
            QString(450, QChar(u'ж')) + QStringLiteral(";") + QString(30, QChar(u'z')),
            QString(200, QChar(u'б')),
            QStringLiteral("漢字;1"),
            QStringLiteral("Т000002;Кефир \U0001F600;4601234567800")};
}

bool FitsThePage(const QString& text) {
    QByteArray bytes;
    return CodePage::AppendWindows1251Exactly(text, bytes);
}

}  // namespace

class ParlinkRecordBytes : public CLinkFixture {
protected:
    // The program's copies of uploaded wares, by digest.
    QStringList Copies() const {
        return QDir(settings.File(QStringLiteral("wares"))).entryList(QDir::Files | QDir::NoDotAndDotDot);
    }
    // Uploads `records` as wares, those the page holds as their bytes when
    // `asBytes`; true when the terminal stored them.
    bool Upload(const QStringList& records, bool asBytes) {
        auto link = NewLink();
        if (!Connect(*link)) return false;
        BeginUpload(*link, QStringLiteral("151"));
        for (const QString& r : records) {
            const QByteArray page = CodePage::ToWindows1251(r);
            for (qsizetype off = 0; off <= r.size(); off += 200) {
                const int sent = asBytes && FitsThePage(r)
                                     ? link->SendDataWindows1251(QByteArrayView(page).sliced(off, std::min<qsizetype>(200, r.size() - off)))
                                     : link->SendData(r.mid(off, 200));
                if (sent != 1) return false;
            }
        }
        link->EndData();
        link->SendCommand(QStringLiteral("003"));
        const bool stored = ReceiveAnswer(*link, 60000) == QStringLiteral("SYNC");
        link->SendCommand(QStringLiteral("004"));
        return link->ClosePort() == 1 && stored;
    }
};

TEST_F(ParlinkRecordBytes, ALoadAndAJournalGoAsTheFilesBytesAndArriveAsTheTextPathsDid) {
    const QStringList records = AwkwardRecords();
    QByteArray stored;
    for (const QString& r : records) stored += CodePage::ToWindows1251(r) + "\r\n";
    // A slow serial line: record blocks, and the copies of loads the
    // journal's wares rows refer to.
    settings.Write(QStringLiteral("parlink.ini"), "[link]\nBaudRate=115200\n");
    StartTerminal();

    // The load: the terminal stores the same file either way, and the
    // program keeps the same copy of it (one digest for both loads).
    ASSERT_TRUE(Upload(records, true));
    EXPECT_EQ(StateFile(QStringLiteral("directories/wares.ux7")), stored);
    const QStringList copies = Copies();
    ASSERT_EQ(copies.size(), 1) << qPrintable(copies.join(QLatin1Char(' ')));
    ASSERT_TRUE(Upload(records, false));
    EXPECT_EQ(StateFile(QStringLiteral("directories/wares.ux7")), stored);
    EXPECT_EQ(Copies().join(QLatin1Char(' ')).toStdString(), copies.join(QLatin1Char(' ')).toStdString())
        << "the text path kept another copy";

    // The journal: its lines come as the bytes the terminal keeps, in record
    // blocks, in plain messages in the code page, and in a version-1 session
    // that carries UTF-8 only; a text Receive in between takes the next line
    // as before.
    QStringList journal;
    for (int i = 0; i < 3000; ++i)
        journal << QStringLiteral("46%1;%2;Приход;\x98;Склад №%3;")
                       .arg(1000000000 + i * 7919, 11, 10, QLatin1Char('0'))
                       .arg(i % 17 + 1)
                       .arg(i % 5);
    QByteArray file;
    for (const QString& l : journal) file += CodePage::ToWindows1251(l) + "\r\n";
    state.Write(QStringLiteral("journal.txt"), file);
    const auto download = [&](const char* what, bool blocks, int version) {
        auto link = NewLink();
        ASSERT_TRUE(Connect(*link)) << what;
        ASSERT_TRUE(link->Session());
        EXPECT_EQ(link->Session()->Features().recordBlocks, blocks) << what;
        EXPECT_EQ(link->Session()->Features().version, version) << what;
        ASSERT_EQ(link->SendCommand(QStringLiteral("021")), 1);
        QByteArray got;
        QString asText;
        QByteArrayView bytes;
        QString text;
        bool ended = false;
        for (int n = 0; !ended && link->ReceiveWindows1251(&bytes, &text) == 1;) {
            ASSERT_TRUE(text.isEmpty()) << what << ": a journal line came as text: " << qPrintable(text);
            if (bytes.isEmpty()) continue;  // nothing pending yet
            ended = bytes == QByteArrayView("\x04", 1);
            if (ended) break;
            got += bytes.toByteArray() + "\r\n";
            if (++n == 1000) {
                ASSERT_EQ(link->Receive(&asText), 1);
                got += CodePage::ToWindows1251(asText) + "\r\n";
            }
        }
        EXPECT_TRUE(ended) << what;
        EXPECT_EQ(asText, journal[1000]) << what;
        EXPECT_EQ(got, file) << what;
        link->SendCommand(QStringLiteral("004"));
        EXPECT_EQ(link->ClosePort(), 1) << what;
    };
    download("record blocks", true, 2);
    terminal.Stop();
    StartTerminal({QStringLiteral("--listen"), QStringLiteral("kx-bytes-%1").arg(QCoreApplication::applicationPid())});
    download("the code page", false, 2);
    settings.Write(QStringLiteral("parlink.ini"), "[link]\nProtocolVersion=1\n");
    download("UTF-8 only", false, 1);
}
