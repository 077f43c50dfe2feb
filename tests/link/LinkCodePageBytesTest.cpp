// Texts in the session's code page: the sender's choice per text, and the
// terminal's load, which keeps such records as their bytes from the message
// stream to the file and must store exactly what it stored through UTF-16.

#include "components/parlink/protocol/LinkMessage.h"
#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"
#include "tools/kxterminal/TerminalDevice.h"

#include <gtest/gtest.h>

using Link::CMessageParser;
using Link::Message;
using Link::MessageType;
using Link::TextCoding;

namespace {

// Texts a record may hold: separators, line ends, NUL, the page's last byte
// (я, 0xFF) and its unassigned 0x98, and what the page cannot hold.
QStringList AwkwardTexts() {
    const QChar nul(0);
    return {QString(),
            QStringLiteral("Т000001;Молоко 3,2% 1 л;4601234567893"),
            QStringLiteral("first\r\nsecond;\r\n"),
            QStringLiteral("a") + nul + QStringLiteral("b") + nul,
            QStringLiteral("яяя;ЯЁё№"),
            QString(QChar(0x0098)) + QStringLiteral("?"),
            QStringLiteral("漢字;1"),
            QStringLiteral("Товар ") + QString(QChar(0xD800)),
            QStringLiteral("emoji ") + QString::fromUcs4(U"\U0001F600")};
}

bool FitsThePage(const QString& text) {
    QByteArray bytes;
    return CodePage::AppendWindows1251Exactly(text, bytes) && CodePage::FromWindows1251(bytes) == text;
}

}  // namespace

TEST(LinkCodePageTexts, GoInThePageWhereTheyFitInUtf8ElseAndComeBackExactly) {
    for (const QString& text : AwkwardTexts()) {
        QByteArray stream;
        Link::AppendTextMessage(stream, MessageType::Data, text, TextCoding::Windows1251);
        const bool fits = FitsThePage(text) && !text.isEmpty();
        ASSERT_FALSE(stream.isEmpty());
        EXPECT_EQ(static_cast<unsigned char>(stream[0]), fits ? 0xC4 : 'D') << qPrintable(text);

        CMessageParser asText;
        asText.SetTextCoding(TextCoding::Windows1251);
        asText.Feed(stream);
        Message m;
        ASSERT_TRUE(asText.Next(&m));
        EXPECT_EQ(m.text, text);
        EXPECT_FALSE(m.inCodePage);

        CMessageParser asBytes;
        asBytes.SetTextCoding(TextCoding::Windows1251);
        asBytes.SetKeepCodePageBytes(true);
        asBytes.Feed(stream);
        ASSERT_TRUE(asBytes.Next(&m));
        EXPECT_EQ(m.inCodePage, fits);
        if (fits) {
            EXPECT_EQ(m.body, CodePage::ToWindows1251(text));
        }
        EXPECT_EQ(Link::MessageText(m), text);
    }
}

TEST(LinkCodePageTexts, ATerminalLoadStoresEveryRecordAsTheTextPathDid) {
    CTestDir dir;
    CTerminalState state(dir.Path());
    ASSERT_TRUE(state.EnsureFolders());
    CTerminalDevice device(state);
    device.BeginSession(TextCoding::Windows1251);

    // Records as the program cuts them (pieces of 200 characters), so that
    // long ones mix pieces in the page with pieces in UTF-8, and a surrogate
    // pair is cut in two.
    QStringList records = AwkwardTexts();
    records << QString(450, QChar(u'ж')) + QStringLiteral("漢") + QString(30, QChar(u'z'))
            << QStringLiteral("漢") + QString(250, QChar(u'ё'))
            << QString(199, QChar(u'a')) + QString::fromUcs4(U"\U0001F600") + QStringLiteral("tail")
            << QString(200, QChar(u'б')) << QString(400, QChar(u'я'));
    QByteArray stream;
    auto command = [&](const char* code) {
        Link::AppendTextMessage(stream, MessageType::Command, QString::fromLatin1(code), TextCoding::Windows1251);
    };
    command("002");
    command("151");
    QByteArray expected;
    for (const QString& r : records) {
        for (qsizetype off = 0; off <= r.size(); off += CTerminalDevice::kRecordPiece)
            Link::AppendTextMessage(stream, MessageType::Data, r.mid(off, CTerminalDevice::kRecordPiece),
                                    TextCoding::Windows1251);
        expected += CodePage::ToWindows1251(r) + "\r\n";
    }
    Link::AppendEmptyMessage(stream, MessageType::EndData);
    command("003");

    // As the emulator's loop reads the stream: code-page texts as their bytes.
    CMessageParser parser;
    parser.SetTextCoding(TextCoding::Windows1251);
    parser.SetKeepCodePageBytes(true);
    parser.Feed(stream);
    Message m;
    int inPage = 0;
    while (parser.Next(&m)) {
        inPage += m.inCodePage ? 1 : 0;
        device.Handle(m);
    }
    ASSERT_FALSE(parser.Failed());
    EXPECT_GT(inPage, 10);
    QByteArray out;
    bool urgent = false;
    device.Pump(0, out, 1 << 20, &urgent);

    CMessageParser answers;
    answers.SetTextCoding(TextCoding::Windows1251);
    answers.Feed(out);
    ASSERT_TRUE(answers.Next(&m));
    EXPECT_EQ(m.text, QStringLiteral("SYNC"));
    EXPECT_EQ(dir.Read(QStringLiteral("directories/wares.ux7")), expected);
}
