// The emulator's state folder holds its key and its pins: it is the user's
// alone, and files another local user plants there (a link as the key file
// or as the pins' lock file, a key file of theirs) are never used. Other
// users are played by chown to uid 65534 (the tests run as root).

#include "components/parlink/security/LinkPins.h"
#include "components/parlink/security/TlsIdentity.h"
#include "tests/support/TestSupport.h"
#include "tools/kxterminal/TerminalState.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class TerminalStateFiles : public ::testing::Test {
protected:
    void SetUp() override { previousMask = ::umask(022); }
    void TearDown() override { ::umask(previousMask); }

    CTestDir dir;
    mode_t previousMask = 0;
};

TEST_F(TerminalStateFiles, AFolderTheEmulatorMakesIsTheUsersAlone) {
    const CTerminalState state(dir.File("state"));
    ASSERT_TRUE(state.EnsureFolders());
    EXPECT_EQ(ModeOf(dir.File("state")), 0700u);
    EXPECT_TRUE(QFileInfo(dir.File("state/directories")).isDir());
}

TEST_F(TerminalStateFiles, APlantedKeyFileIsNeverServed) {
    // Someone else's key, kept where they can reach it.
    const QString theirs = dir.File("their-identity.pem");
    CTlsIdentity planted;
    QString error;
    ASSERT_TRUE(LoadOrCreateTlsIdentity(theirs, "theirs", &planted, &error)) << qPrintable(error);

    const QString key = dir.File("state/tls-identity.pem");
    ASSERT_TRUE(CTerminalState(dir.File("state")).EnsureFolders());
    // A link as the key file: refused, named, not followed.
    ASSERT_EQ(::symlink(LocalName(theirs).constData(), LocalName(key).constData()), 0);
    CTlsIdentity identity;
    EXPECT_FALSE(LoadOrCreateTlsIdentity(key, "kxterminal", &identity, &error));
    EXPECT_TRUE(error.contains(key + ": it is a link")) << qPrintable(error);
    EXPECT_NE(identity.fingerprint, planted.fingerprint);
    // Their file itself in its place: not this user's, refused.
    ASSERT_TRUE(QFile::remove(key));
    ASSERT_TRUE(QFile::copy(theirs, key));
    ASSERT_EQ(::chown(LocalName(key).constData(), kOtherUser, kOtherUser), 0);
    EXPECT_FALSE(LoadOrCreateTlsIdentity(key, "kxterminal", &identity, &error));
    EXPECT_TRUE(error.contains("not a file of this user")) << qPrintable(error);
    EXPECT_NE(identity.fingerprint, planted.fingerprint);
    // The same file once it is ours: read (what the refusals guard).
    ASSERT_EQ(::chown(LocalName(key).constData(), geteuid(), getegid()), 0);
    ASSERT_TRUE(LoadOrCreateTlsIdentity(key, "kxterminal", &identity, &error)) << qPrintable(error);
    EXPECT_EQ(identity.fingerprint, planted.fingerprint);
}

TEST_F(TerminalStateFiles, ThePinsLockIsOursAloneAndNeverALink) {
    const QString pins = dir.File("state/pins.txt");
    const CLinkPin pin{"kxconfig-anna@pc1/0123abcd", QByteArray(32, '\x5A')};
    QString error;
    ASSERT_TRUE(StoreLinkPin(pins, pin, &error)) << qPrintable(error);
    EXPECT_EQ(ModeOf(pins + ".lock"), 0600u);

    const QString victim = dir.File("victim");
    ASSERT_TRUE(WriteFileBytes(victim, "precious\n"));
    ASSERT_TRUE(QFile::remove(pins + ".lock"));
    ASSERT_EQ(::symlink(LocalName(victim).constData(), LocalName(pins + ".lock").constData()), 0);
    EXPECT_FALSE(StoreLinkPin(pins, pin, &error));
    EXPECT_TRUE(error.contains("pins.txt.lock: it is a link")) << qPrintable(error);
    EXPECT_EQ(ReadFileBytes(victim), "precious\n");
}

}  // namespace

// The window's answer and a download's count read the journal a piece at a
// time; they must see exactly the lines, and numbers, a download sends, however
// the lines end, and wherever a piece boundary falls (1 MB: a CR LF split
// across it, a line longer than it).
TEST_F(TerminalStateFiles, AJournalBeingSentIsTheJournalAsItStoodWhenItsCommandCame) {
    const CTerminalState state(dir.File("state"));
    ASSERT_TRUE(state.EnsureFolders());
    QList<QByteArray> scans;
    for (int i = 0; i < 3000; ++i) scans << "1;2;3;4;" + QByteArray::number(4600000000000LL + i * 7919) + ";1";
    ASSERT_TRUE(state.AppendScans(scans));
    // Written by hand without its last line end: a scan added later ends it.
    {
        QFile f(state.Path(QStringLiteral("journal.txt")));
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("9;9;9;9;last");
    }
    const CJournalText before = state.JournalText();
    ASSERT_EQ(before.lines.size(), 3001u);
    const std::unique_ptr<CJournalReader> reader = state.OpenJournal();
    std::vector<QByteArray> sent;
    std::vector<qint64> numbers;
    const auto take = [&](const CJournalText::Line& l) {
        sent.push_back(l.text.toByteArray());
        numbers.push_back(l.sequence);
    };
    ASSERT_TRUE(reader->ReadMore(4096, take));
    ASSERT_LT(sent.size(), before.lines.size());
    // Meanwhile the scanner adds scans, and a clear takes the first lines
    // away (the file is replaced, the numbers go on).
    ASSERT_TRUE(state.AppendScans({"new;scan"}));
    CNumberRanges first;
    first.Add(1, 100);
    ASSERT_TRUE(state.Clear(first));
    while (reader->ReadMore(4096, take)) {
    }
    ASSERT_EQ(sent.size(), before.lines.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i], before.lines[i].text.toByteArray()) << i;
        EXPECT_EQ(numbers[i], before.lines[i].sequence) << i;
    }
    EXPECT_EQ(sent.back(), "9;9;9;9;last");
    // The next download has what was added, once.
    const CJournalText after = state.JournalText();
    ASSERT_EQ(after.lines.size(), 2902u);
    EXPECT_EQ(after.lines.back().text, QByteArrayView("new;scan"));
    EXPECT_EQ(after.lines.back().sequence, 3002);
}

TEST_F(TerminalStateFiles, AReaderReadsAgainIntoWhatItsLinesNoLongerNeedAndKeepsWhatIsHeld) {
    const CTerminalState state(dir.File("state"));
    ASSERT_TRUE(state.EnsureFolders());
    QList<QByteArray> scans;
    for (int i = 0; i < 40000; ++i) scans << QByteArray::number(i) + ";" + QByteArray::number(4600000000000LL + i * 7919) + ";w;d";
    ASSERT_TRUE(state.AppendScans(scans));
    const CJournalText journal = state.JournalText();
    ASSERT_EQ(journal.lines.size(), 40000u);
    const std::unique_ptr<CJournalReader> reader = state.OpenJournal();
    std::vector<CJournalText::Line> last;
    std::size_t given = 0;
    int reused = 0;
    int eligible = 0;
    for (int round = 0;; ++round) {
        // Every third round holds the second half of the lines before, as a
        // block being made holds them; the others let every line go.
        const bool hold = round % 3 == 2 && last.size() > 1;
        const std::size_t heldFrom = last.size() / 2;
        reader->Release(hold ? last[heldFrom].text.constData() : nullptr);
        std::vector<CJournalText::Line> got;
        if (!reader->ReadMore(32 * 1024, [&](const CJournalText::Line& l) { got.push_back(l); })) break;
        ASSERT_FALSE(got.empty());
        for (std::size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i].text, journal.lines[given + i].text) << "line " << given + i;
        if (hold) {
            // Still there after the next piece was read.
            for (std::size_t i = heldFrom; i < last.size(); ++i)
                ASSERT_EQ(last[i].text, journal.lines[given - last.size() + i].text) << "held line " << i;
        } else if (!last.empty()) {
            // Read into the same memory, which starts with the line the last piece cut.
            ++eligible;
            if (got.front().text.constData() == last.front().text.constData()) ++reused;
        }
        given += got.size();
        last = std::move(got);
    }
    EXPECT_EQ(given, journal.lines.size());
    EXPECT_GT(eligible, 15);
    EXPECT_EQ(reused, eligible);
}

TEST_F(TerminalStateFiles, TheJournalsBoundsCountTheLinesADownloadSends) {
    const CTerminalState state(dir.File("state"));
    ASSERT_TRUE(state.EnsureFolders());
    // What a pass that reads in pieces sees, against what a download sends.
    const auto sameLines = [&](const char* what) {
        std::vector<std::pair<QByteArray, qint64>> pieces, whole;
        state.ForEachJournalLine([&](QByteArrayView text, qint64 sequence) {
            pieces.emplace_back(text.toByteArray(), sequence);
        });
        const CJournalText journal = state.JournalText();
        for (const CJournalText::Line& l : journal.lines) whole.emplace_back(l.text.toByteArray(), l.sequence);
        ASSERT_EQ(pieces.size(), whole.size()) << what;
        for (size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(pieces[i].first, whole[i].first) << what << " line " << i;
            EXPECT_EQ(pieces[i].second, whole[i].second) << what << " line " << i;
        }
        // A download reads as it sends, in pieces of a megabyte; and in
        // pieces much shorter than a line, which must read on to a line's end.
        for (const qsizetype size : {qsizetype(1) << 20, qsizetype(5)}) {
            const std::unique_ptr<CJournalReader> reader = state.OpenJournal();
            std::vector<CJournalText::Line> read;
            while (reader->ReadMore(size, [&](const CJournalText::Line& l) { read.push_back(l); })) {
            }
            ASSERT_EQ(read.size(), journal.lines.size()) << what << " in pieces of " << size;
            for (size_t i = 0; i < read.size(); ++i) {
                EXPECT_EQ(read[i].text, journal.lines[i].text) << what << " line " << i;
                EXPECT_EQ(read[i].number, journal.lines[i].number) << what << " line " << i;
                EXPECT_EQ(read[i].sequence, journal.lines[i].sequence) << what << " line " << i;
            }
        }
    };
    const auto write = [&](const QByteArray& bytes) {
        QFile f(state.Path(QStringLiteral("journal.txt")));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(f.write(bytes), bytes.size());
    };
    const qsizetype piece = qsizetype(1) << 20;
    QByteArray bytes = "a\r\n\r\n\n\r\n";  // one line, then three empty ones
    bytes += 'b' + QByteArray(piece - 1 - bytes.size() - 2, 'x') + '\n';
    ASSERT_EQ(bytes.size(), piece - 1);
    bytes += "\r\n";  // empty, its CR the piece's last byte
    bytes += 'c' + QByteArray(piece + 10, 'y') + "\r\n";
    for (const auto& [tail, lines] : {std::pair{QByteArray("d\r"), 4}, std::pair{QByteArray("\r"), 3},
                                      std::pair{QByteArray(), 3}, std::pair{QByteArray("\r\r"), 4}}) {
        write(bytes + tail);
        const CTerminalState::SequenceBounds bounds = state.JournalBounds();
        EXPECT_EQ(static_cast<int>(state.JournalText().lines.size()), lines) << tail.toHex().constData();
        EXPECT_EQ(bounds.first, 1) << tail.toHex().constData();
        EXPECT_EQ(bounds.next, lines + 1) << tail.toHex().constData();
        sameLines(tail.toHex().constData());
    }
    write("");
    EXPECT_EQ(state.JournalBounds().next, 1);
    EXPECT_EQ(state.JournalBounds().first, 1);
    // Kept numbers after a clear: the first is the oldest kept, the next goes on.
    write(bytes + "d\r");
    CNumberRanges gone;
    gone.Add(1, 2);
    ASSERT_TRUE(state.Clear(gone));
    ASSERT_TRUE(state.AppendScans({"e"}));
    const CJournalText kept = state.JournalText();
    ASSERT_EQ(kept.lines.size(), 3u);
    EXPECT_EQ(state.JournalBounds().first, kept.lines.front().sequence);
    EXPECT_EQ(state.JournalBounds().first, 3);
    EXPECT_EQ(state.JournalBounds().next, 6);
    sameLines("after a clear");
    CNumberRanges middle;  // the kept numbers become two ranges
    middle.Add(4);
    ASSERT_TRUE(state.Clear(middle));
    sameLines("after a clear in the middle");
    EXPECT_EQ(state.JournalBounds().first, 3);
    ASSERT_TRUE(state.ClearJournal());
    EXPECT_EQ(state.JournalBounds().first, 6);
    EXPECT_EQ(state.JournalBounds().next, 6);
    // A journal kept elsewhere behind a link: a download sends the lines the
    // window counted and a clear would see, not none of them.
    const QString elsewhere = dir.File("elsewhere.txt");
    {
        QFile f(elsewhere);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x\r\ny\r\n");
    }
    QFile::remove(state.Path(QStringLiteral("journal.txt")));
    ASSERT_TRUE(QFile::link(elsewhere, state.Path(QStringLiteral("journal.txt"))));
    EXPECT_EQ(state.JournalText().lines.size(), 2u);
    sameLines("a journal behind a link");
}
