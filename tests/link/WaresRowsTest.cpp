// Wares rows: a journal's barcodes travel as rows of the wares directory the
// terminal keeps, and come back exactly from the program's copy of what it
// uploaded; a copy that is not exactly the terminal's, or not exactly what
// its name says, is never used, and the lines then come as text.

#include "components/parlink/protocol/RecordBlock.h"
#include "components/parlink/protocol/RecordBlockStream.h"
#include "components/parlink/session/WaresCopies.h"
#include "platform/CodePage.h"
#include "tests/link/LinkTestSupport.h"
#include "tools/kxterminal/TerminalWares.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>

#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Link;

namespace {

QString Ean13(QRandomGenerator& random) {
    QString code = QStringLiteral("46");
    for (int d = 0; d < 10; ++d) code += QChar(u'0' + random.bounded(10));
    int sum = 0;
    for (int d = 0; d < 12; ++d) sum += (code[d].unicode() - u'0') * (d % 2 ? 3 : 1);
    return code + QString::number((10 - sum % 10) % 10);
}

// Wares as a shop keeps them (code;name;barcode;mode), among them a barcode
// two wares share and a row without a barcode field.
QStringList Wares(int count, QRandomGenerator& random) {
    const QStringList names{"Молоко 1 л", "Кефир 0,5 л", "Сыр \"Российский\"", "Хлеб", "Чай черный"};
    QStringList wares;
    for (int i = 0; i < count; ++i)
        wares << QStringLiteral("Т%1;%2;%3;0").arg(i + 1, 6, 10, QLatin1Char('0')).arg(names[random.bounded(5)], Ean13(random));
    wares[5] = QStringLiteral("Т000006;Дубль;%1;0").arg(wares[4].section(QLatin1Char(';'), 2, 2));
    wares[7] = QStringLiteral("Т000008;без штрихкода");
    return wares;
}

// Scans of those wares (barcode;quantity;operation;...;ware code;time;) and
// what a scanner also records: a barcode of no ware, an empty one, a ware
// code that is not the barcode's.
QStringList Journal(const QStringList& wares, int count, QRandomGenerator& random) {
    QStringList lines;
    for (int i = 0; i < count; ++i) {
        const QStringList ware = wares[random.bounded(static_cast<int>(wares.size()))].split(QLatin1Char(';'));
        QString barcode = ware.value(2), code = ware.value(0);
        if (i % 97 == 3) barcode = QStringLiteral("2000000000015");
        if (i % 101 == 5) barcode.clear();
        if (i % 89 == 7) code = QStringLiteral("Т999999");
        lines << QStringLiteral("%1;%2;1;2;3;4;%3;09.12.2026 10:%4:00;").arg(barcode).arg(1 + i % 3).arg(code).arg(i % 60, 2, 10, QLatin1Char('0'));
    }
    return lines;
}

std::vector<QByteArray> Cp1251Lines(const QStringList& lines) {
    std::vector<QByteArray> out;
    for (const QString& l : lines) out.push_back(CodePage::ToWindows1251(l));
    return out;
}

std::shared_ptr<const CTerminalWares> TerminalKeeps(const CTestDir& dir, const QStringList& wares) {
    QByteArray file;
    for (const QString& w : wares) file += CodePage::ToWindows1251(w) + "\r\n";
    dir.Write(QStringLiteral("wares.ux7"), file);
    return CTerminalWares::Read(dir.File(QStringLiteral("wares.ux7")));
}

// Wares as both ends hold them: the terminal's file and the program's copy.
struct CBothEnds {
    CBothEnds(const QStringList& wares) : terminal(TerminalKeeps(dir, wares)), copy(CWaresCopy::FromRecords(wares)) {}
    CTestDir dir;
    std::shared_ptr<const CTerminalWares> terminal;
    std::shared_ptr<const CWaresCopy> copy;
};

BlockReferences Resolving(const CBlockReference* reference) {
    return [reference](QByteArrayView digest) -> const CBlockReference* {
        return reference && digest == reference->Digest() ? reference : nullptr;
    };
}

// A reference that says it is another one but holds only its first rows.
class CShortened final : public CBlockReference {
public:
    CShortened(const CBlockReference& of, std::uint32_t rows) : m_of(of), m_rows(rows) {}
    QByteArray Digest() const override { return m_of.Digest(); }
    std::uint32_t RowCount() const override { return m_rows; }
    bool AppendField(std::uint32_t row, int field, BlockCoding coding, QByteArray& out) const override {
        return row < m_rows && m_of.AppendField(row, field, coding, out);
    }

private:
    const CBlockReference& m_of;
    std::uint32_t m_rows;
};

}  // namespace

TEST(WaresRows, JournalBarcodesGoAsRowsAndComeBackExactlyFromTheProgramsCopy) {
    QRandomGenerator random(2026);
    const QStringList wares = Wares(3000, random);
    const CBothEnds ends(wares);
    const auto& terminal = ends.terminal;
    const auto& copy = ends.copy;
    ASSERT_TRUE(terminal && copy);
    ASSERT_EQ(terminal->Digest(), copy->Digest());
    ASSERT_EQ(terminal->RowCount(), 3000u);
    const BlockReferences references = Resolving(copy.get());

    QStringList journal = Journal(wares, 4000, random);
    QStringList numbered;  // as "031" sends them: the barcode is the second field
    for (int i = 0; i < journal.size(); ++i) numbered << QString::number(i + 1) + QLatin1Char(';') + journal[i];
    for (const QStringList* lines : {&journal, &numbered}) {
        RecordBlock block;
        block.coding = BlockCoding::Windows1251;
        block.records = Cp1251Lines(*lines);
        const QByteArray plain = EncodeRecordBlock(block, 1);
        const QByteArray rows = EncodeRecordBlock(block, 1, terminal.get());
        RecordBlock back;
        ASSERT_TRUE(DecodeRecordBlock(rows.constData(), rows.size(), &back, &references));
        EXPECT_EQ(back.records, block.records);
        // The barcode and the ware's code are two of the line's largest fields.
        EXPECT_LT(rows.size() * 100, plain.size() * 80) << rows.size() << " against " << plain.size();
        // Without the copy there is nothing to take the rows from.
        EXPECT_FALSE(DecodeRecordBlock(rows.constData(), rows.size(), &back));
        const auto other = CWaresCopy::FromRecords(wares.mid(1));
        const BlockReferences wrong = Resolving(other.get());
        EXPECT_FALSE(DecodeRecordBlock(rows.constData(), rows.size(), &back, &wrong));
        // A reference of that name with fewer rows than the block names.
        const CShortened shortened(*copy, 100);
        const BlockReferences few = Resolving(&shortened);
        EXPECT_FALSE(DecodeRecordBlock(rows.constData(), rows.size(), &back, &few));
    }

    // Many rows' fields at once, as the reader takes a column's, are each
    // row's field as AppendField gives it: from the copy itself and through
    // the general way; names with letters outside ASCII in both codings.
    // A row past the last, a field past a row's last and more bytes than
    // allowed are refused.
    {
        const CShortened whole(*copy, copy->RowCount());
        std::vector<std::uint32_t> rows;
        for (std::uint32_t i = 0; i < 500; ++i) rows.push_back(i * 7919u % 3000u);
        for (const CBlockReference* reference : {static_cast<const CBlockReference*>(copy.get()),
                                                 static_cast<const CBlockReference*>(&whole)})
            for (BlockCoding coding : {BlockCoding::Windows1251, BlockCoding::Utf8})
                for (int field = 0; field < 3; ++field) {
                    std::string out = "x";
                    std::vector<size_t> ends;
                    ASSERT_TRUE(reference->AppendFields(rows.data(), rows.size(), field, coding, 1 << 20, out, ends));
                    ASSERT_EQ(ends.size(), rows.size());
                    size_t from = 1;
                    for (size_t i = 0; i < rows.size(); ++i) {
                        QByteArray one;
                        ASSERT_TRUE(reference->AppendField(rows[i], field, coding, one));
                        EXPECT_EQ(QByteArray(out.data() + from, static_cast<qsizetype>(ends[i] - from)), one);
                        from = ends[i];
                    }
                    std::string small;
                    EXPECT_FALSE(reference->AppendFields(rows.data(), rows.size(), field, coding, 1000, small, ends));
                }
        std::vector<std::uint32_t> bad{1, 2, copy->RowCount()};
        std::string out;
        std::vector<size_t> ends;
        EXPECT_FALSE(copy->AppendFields(bad.data(), bad.size(), 0, BlockCoding::Windows1251, 1 << 20, out, ends));
        bad.back() = 7;  // "Т000008;без штрихкода": no third field
        EXPECT_FALSE(copy->AppendFields(bad.data(), bad.size(), 2, BlockCoding::Windows1251, 1 << 20, out, ends));
        EXPECT_TRUE(copy->AppendFields(bad.data(), bad.size(), 1, BlockCoding::Windows1251, 1 << 20, out, ends));
    }

    // The answers the program reads are the lines, in UTF-8 sessions too.
    RecordBlock utf8;
    utf8.coding = BlockCoding::Utf8;
    for (const QString& l : journal.mid(0, 500)) utf8.records.push_back(l.toUtf8());
    const QByteArray body = EncodeRecordBlock(utf8, 1, terminal.get());
    QStringList answers;
    ASSERT_TRUE(ReadAnswerBlock(body, &answers, &references));
    EXPECT_EQ(answers, journal.mid(0, 500));
}

// The terminal's index answers as a scan of the file would: the first row
// of a barcode, exact bytes only, and a row's fields as they stand.
TEST(WaresRows, TheTerminalsIndexFindsTheFirstRowOfEachBarcodeAndOnlyThatBarcode) {
    const QStringList wares{QStringLiteral("Т1;Молоко;4600000000017;0"), QStringLiteral("Т2;Кефир;46000000000170;0"),
                            QStringLiteral("Т3;Дубль;4600000000017;0"),  QStringLiteral("Т4;без штрихкода"),
                            QStringLiteral("Т5;пустой;;0"),              QStringLiteral("Т6;Сыр;4600000000024"),
                            // Digits with leading zeros, 16 digits, and barcodes that are not digits alone.
                            QStringLiteral("Т7;Нули;0012345;0"),         QStringLiteral("Т8;Шестнадцать;1234567890123456;0"),
                            QStringLiteral("Т9;Буквы;ABC-123;0"),        QStringLiteral("Т10;Длинный;12345678901234567;0"),
                            // A code too long to keep beside the row, and a line of one field.
                            QStringLiteral("Т-0000000000011;Код в 15 байт;0"), QStringLiteral("Т-00000000000012;Код в 16 байт;0"),
                            QStringLiteral("Т13")};
    CTestDir dir;
    const auto terminal = TerminalKeeps(dir, wares);
    ASSERT_TRUE(terminal);
    ASSERT_EQ(terminal->RowCount(), 13u);
    const auto find = [&](const char* barcode) { return terminal->Find(CTerminalWares::kBarcodeField, barcode); };
    const auto equals = [&](std::uint32_t row, int field, const QString& value) {
        return terminal->FieldEquals(row, field, BlockCoding::Windows1251, CodePage::ToWindows1251(value));
    };
    EXPECT_EQ(find("4600000000017"), 0);  // not the later row with the same barcode
    EXPECT_EQ(find("46000000000170"), 1);
    EXPECT_EQ(find("4600000000024"), 5);  // the last field of its line
    EXPECT_EQ(find("460000000001"), -1);
    EXPECT_EQ(find(""), -1);
    EXPECT_EQ(terminal->Find(0, "Т1"), -1);  // only barcodes are looked up
    // Leading zeros count: the same number in fewer digits is another barcode.
    EXPECT_EQ(find("0012345"), 6);
    EXPECT_EQ(find("012345"), -1);
    EXPECT_EQ(find("12345"), -1);
    // Every digit of a long barcode counts, the middle ones too.
    EXPECT_EQ(find("1234567890123456"), 7);
    EXPECT_EQ(find("1234567890123457"), -1);
    EXPECT_EQ(find("1234567800123456"), -1);
    EXPECT_EQ(find("1234567890123456 "), -1);
    EXPECT_EQ(find("ABC-123"), 8);
    EXPECT_EQ(find("ABC-124"), -1);
    EXPECT_EQ(find("12345678901234567"), 9);
    EXPECT_EQ(find("12345678901234568"), -1);
    // The index's answer is the field as the block puts it back.
    EXPECT_TRUE(terminal->FindIsExact(BlockCoding::Windows1251));
    EXPECT_FALSE(terminal->FindIsExact(BlockCoding::Utf8));
    EXPECT_TRUE(equals(2, CTerminalWares::kBarcodeField, QStringLiteral("4600000000017")));
    EXPECT_TRUE(equals(4, CTerminalWares::kBarcodeField, QString()));
    EXPECT_FALSE(equals(3, CTerminalWares::kBarcodeField, QString()));  // the row has no such field
    EXPECT_FALSE(equals(0, CTerminalWares::kBarcodeField, QStringLiteral("460000000001")));
    EXPECT_TRUE(equals(3, 1, QStringLiteral("без штрихкода")));
    EXPECT_TRUE(equals(5, 0, QStringLiteral("Т6")));
    // The first field, kept beside the row or only in the file: all of it
    // and nothing more.
    for (std::uint32_t row : {10u, 11u}) {
        const QString code = wares[static_cast<int>(row)].section(QLatin1Char(';'), 0, 0);
        EXPECT_TRUE(equals(row, 0, code)) << row;
        EXPECT_FALSE(equals(row, 0, code.chopped(1))) << row;
        EXPECT_FALSE(equals(row, 0, code + QLatin1Char(';'))) << row;
        EXPECT_FALSE(equals(row, 0, code.left(code.size() - 1) + QLatin1Char('9'))) << row;
    }
    EXPECT_TRUE(equals(12, 0, QStringLiteral("Т13")));
    EXPECT_FALSE(equals(12, 0, QStringLiteral("Т1")));
    EXPECT_FALSE(equals(13, 0, QStringLiteral("Т6")));  // past the last row
    // Many at once, as a block's column asks, give what one at a time gives:
    // with barcodes other than digits in the index, and with digits alone.
    CTestDir digitsDir;
    const auto digitsOnly = TerminalKeeps(digitsDir, QStringList{wares[0], wares[1], wares[2], wares[3], wares[4],
                                                                 wares[5], wares[6], wares[7]});
    ASSERT_TRUE(digitsOnly);
    std::vector<QByteArray> asked;
    for (int i = 0; i < 60; ++i)
        for (const char* barcode : {"4600000000017", "46000000000170", "0012345", "012345", "", "ABC-123",
                                    "1234567890123456", "1234567890123457", "4600000000024", "12345678901234567"})
            asked.push_back(i % 7 == 3 ? QByteArray(barcode) + QByteArray::number(i) : QByteArray(barcode));
    std::vector<std::string_view> values;
    for (const QByteArray& a : asked) values.emplace_back(a.constData(), static_cast<size_t>(a.size()));
    for (const CTerminalWares* index : {terminal.get(), digitsOnly.get()}) {
        std::vector<std::int64_t> rows(values.size(), -2);
        index->FindMany(CTerminalWares::kBarcodeField, values.data(), values.size(), rows.data());
        for (size_t i = 0; i < values.size(); ++i)
            EXPECT_EQ(rows[i], index->Find(CTerminalWares::kBarcodeField, asked[i])) << asked[i].constData();
        index->FindMany(0, values.data(), values.size(), rows.data());
        EXPECT_EQ(std::count(rows.begin(), rows.end(), -1), static_cast<std::ptrdiff_t>(values.size()));
    }
    // A column's fields compared with their rows' in one go, as one at a
    // time: codes kept beside the row and in the file alone, other fields,
    // rows that are not there.
    {
        std::vector<std::int64_t> rows;
        std::vector<QByteArray> fields;
        for (int i = 0; i < 300; ++i) {
            const auto row = static_cast<std::int64_t>(i % 15) - 1;  // -1 … 13
            const QString line = row >= 0 && row < 13 ? wares[static_cast<int>(row)] : QStringLiteral("Т0;x");
            const int field = i % 4 == 3 ? 1 : 0;
            QByteArray value = CodePage::ToWindows1251(line.section(QLatin1Char(';'), field, field));
            if (i % 5 == 2) value.chop(1);
            if (i % 5 == 4) value += '9';
            fields.push_back(value);
            rows.push_back(row);
        }
        std::vector<std::string_view> views;
        for (const QByteArray& f : fields) views.emplace_back(f.constData(), static_cast<size_t>(f.size()));
        for (int field : {0, 1}) {
            std::vector<char> equal(views.size(), 7);
            terminal->FieldsEqual(field, BlockCoding::Windows1251, rows.data(), views.data(), views.size(), equal.data());
            int same = 0;
            for (size_t i = 0; i < views.size(); ++i) {
                const bool one = rows[i] >= 0 && terminal->FieldEquals(static_cast<std::uint32_t>(rows[i]), field,
                                                                       BlockCoding::Windows1251, fields[i]);
                EXPECT_EQ(equal[i], one ? 1 : 0) << "field " << field << " row " << rows[i] << " " << fields[i].constData();
                same += one ? 1 : 0;
            }
            EXPECT_GT(same, 30) << field;
        }
    }
    // Hints about rows that are not there are ignored.
    terminal->PrefetchRow(13, 0);
    terminal->PrefetchRow(1000000, 1);
    for (int stage = 0; stage < 3; ++stage) {
        terminal->Prefetch(CTerminalWares::kBarcodeField, "4600000000017", stage);
        terminal->Prefetch(CTerminalWares::kBarcodeField, "ABC-123", stage);
        terminal->Prefetch(CTerminalWares::kBarcodeField, "no such", stage);
    }
}

TEST(WaresRows, AChangedBlockIsRefusedOrStaysExact) {
    QRandomGenerator random(5);
    const QStringList wares = Wares(40, random);
    const CBothEnds ends(wares);
    const auto& terminal = ends.terminal;
    const BlockReferences references = Resolving(ends.copy.get());
    RecordBlock block;
    block.coding = BlockCoding::Windows1251;
    block.records = Cp1251Lines(Journal(wares, 6, random));
    const QByteArray good = EncodeRecordBlock(block, 1, terminal.get());
    RecordBlock out;
    ASSERT_TRUE(DecodeRecordBlock(good.constData(), good.size(), &out, &references));
    ASSERT_EQ(out.records, block.records);
    for (qsizetype n = 0; n < good.size(); ++n)
        EXPECT_FALSE(DecodeRecordBlock(good.constData(), n, &out, &references)) << n;
    int decoded = 0;
    for (qsizetype i = 0; i < good.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            QByteArray bad = good;
            bad[i] = static_cast<char>(bad[i] ^ (1 << bit));
            if (!DecodeRecordBlock(bad.constData(), bad.size(), &out, &references)) continue;
            ++decoded;
            // Whatever it decodes to must itself be sound records.
            const QByteArray again = EncodeRecordBlock(out, 1, terminal.get());
            RecordBlock twice;
            ASSERT_TRUE(DecodeRecordBlock(again.constData(), again.size(), &twice, &references)) << i << ":" << bit;
            EXPECT_EQ(twice.records, out.records) << i << ":" << bit;
        }
    }
    EXPECT_GT(decoded, 0);  // a changed row number is a sound block of other lines
}

TEST(WaresRows, ATerminalThatKeptARowOtherwiseHasAnotherDigest) {
    QRandomGenerator random(9);
    QStringList wares = Wares(20, random);
    CTestDir dir;
    const QByteArray same = TerminalKeeps(dir, wares)->Digest();
    EXPECT_EQ(same, CWaresCopy::FromRecords(wares)->Digest());
    // A character outside the page is kept as '?'; a record holding a line
    // break is kept as two rows: the rows are no longer the records sent.
    QStringList foreign = wares;
    foreign[3] = QStringLiteral("Т000004;漢字;4601234567893;0");
    EXPECT_NE(TerminalKeeps(dir, foreign)->Digest(), CWaresCopy::FromRecords(foreign)->Digest());
    QStringList broken = wares;
    broken[3] = QStringLiteral("Т000004;a\r\nb;4601234567893;0");
    EXPECT_NE(TerminalKeeps(dir, broken)->Digest(), CWaresCopy::FromRecords(broken)->Digest());
    // Nor do empty records and the last line without its line end change the rows.
    QStringList empty = wares;
    empty.insert(2, QString());
    EXPECT_EQ(TerminalKeeps(dir, empty)->Digest(), CWaresCopy::FromRecords(empty)->Digest());
    QByteArray file;
    for (const QString& w : wares) file += CodePage::ToWindows1251(w) + "\r\n";
    file.chop(2);
    dir.Write(QStringLiteral("wares.ux7"), file);
    EXPECT_EQ(CTerminalWares::Read(dir.File(QStringLiteral("wares.ux7")))->Digest(), same);
}

TEST(WaresCopies, AConfirmedUploadIsKeptByItsDigestAndNothingElseIsTrusted) {
    CTestDir dir;
    const QString folder = dir.File(QStringLiteral("wares"));
    QRandomGenerator random(11);
    QList<QByteArray> digests;
    {
        CWaresCopies copies(folder);
        ASSERT_TRUE(copies.Usable());
        // Five uploads, one not confirmed: the three newest confirmed are kept.
        for (int upload = 0; upload < 5; ++upload) {
            const QStringList wares = Wares(50, random);
            copies.Begin();
            for (const QString& w : wares) copies.Add(w);
            if (upload == 2) {
                copies.Abandon();
                continue;
            }
            ASSERT_TRUE(copies.Confirm());
            digests.prepend(CWaresCopy::FromRecords(wares)->Digest());
            ::usleep(20000);  // distinct times on coarse file systems
        }
        struct stat s {};
        ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &s), 0);
        EXPECT_EQ(s.st_mode & 0777, 0700u);
        EXPECT_EQ(copies.Held(10), digests.mid(0, kWaresCopiesKept));
        const auto loaded = copies.Load(digests[0]);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(loaded->RowCount(), 50u);
        // An unfinished upload leaves no file behind.
        copies.Begin();
        copies.Add(QStringLiteral("x"));
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), kWaresCopiesKept);

    CWaresCopies copies(folder);
    const QString newest = folder + QLatin1Char('/') + QString::fromLatin1(digests[0].toHex()) + QStringLiteral(".wares");
    // A copy whose bytes are not what its name says is not taken.
    QFile file(newest);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 1);
    file.seek(0);
    file.write(bytes);
    file.close();
    EXPECT_FALSE(copies.Load(digests[0]));
    // A link planted under a copy's name is not followed, not even to a sound copy.
    const QString sound = folder + QLatin1Char('/') + QString::fromLatin1(digests[1].toHex()) + QStringLiteral(".wares");
    const QString moved = dir.File(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QFile::rename(sound, moved));
    ASSERT_EQ(::symlink(QFile::encodeName(moved).constData(), QFile::encodeName(sound).constData()), 0);
    EXPECT_FALSE(copies.Load(digests[1]));
    EXPECT_FALSE(copies.Held(10).contains(digests[1]));
    // A folder others may write in is not used at all.
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0770), 0);
    EXPECT_FALSE(copies.Usable());
    EXPECT_TRUE(copies.Held(10).isEmpty());
    EXPECT_FALSE(copies.Load(digests[2]));
}

// The program and the emulator over a pseudo-terminal at the slow line's
// settings: an upload leaves a copy, the journal then comes in fewer bytes
// and exactly the same; without the copy, or with a spoiled one, it still
// comes exactly, as text.
class WaresRowsOverPty : public CLinkFixture {};

TEST_F(WaresRowsOverPty, TheJournalComesExactlyWithTheCopyWithoutItAndWithASpoiledOne) {
    QRandomGenerator random(31);
    const QStringList wares = Wares(4000, random);
    const QStringList journal = Journal(wares, 5000, random);
    QByteArray journalFile;
    for (const QString& l : journal) journalFile += CodePage::ToWindows1251(l) + "\r\n";
    state.Write(QStringLiteral("journal.txt"), journalFile);
    StartTerminal();
    const QString copies = settings.File(QStringLiteral("wares"));

    auto link = NewLink();
    ASSERT_TRUE(Connect(*link));
    BeginUpload(*link, QStringLiteral("151"));
    for (const QString& w : wares) link->SendData(w);
    link->EndData();
    link->SendCommand(QStringLiteral("003"));
    ASSERT_EQ(ReceiveAnswer(*link, 60000), QStringLiteral("SYNC"));
    link->SendCommand(QStringLiteral("004"));
    link->ClosePort();
    const QString name = QString::fromLatin1(CWaresCopy::FromRecords(wares)->Digest().toHex()) + QStringLiteral(".wares");
    ASSERT_EQ(QDir(copies).entryList(QDir::Files), QStringList{name});

    const auto download = [&](QStringList* lines) -> std::uint64_t {
        auto l = NewLink();
        if (!Connect(*l)) return 0;
        l->SendCommand(QStringLiteral("021"));
        bool ended = false;
        *lines = ReceiveLines(*l, &ended);
        EXPECT_TRUE(ended);
        const std::uint64_t received = l->Session()->Stats().wireBytesReceived;
        l->SendCommand(QStringLiteral("004"));
        l->ClosePort();
        return received;
    };
    QStringList withCopy, withoutCopy, spoiled;
    const std::uint64_t rows = download(&withCopy);
    EXPECT_EQ(withCopy, journal);
    EXPECT_TRUE(CommandLog().contains(QStringLiteral("C 15H")));

    ASSERT_TRUE(QFile::rename(copies + QLatin1Char('/') + name, settings.File(QStringLiteral("kept"))));
    const std::uint64_t text = download(&withoutCopy);
    EXPECT_EQ(withoutCopy, journal);
    EXPECT_LT(rows * 100, text * 85) << "with the copy " << rows << ", without " << text;

    // The copy back, but one ware's name changed in it: it is not named, and
    // the lines come as text again.
    QFile kept(settings.File(QStringLiteral("kept")));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    QByteArray bytes = kept.readAll();
    kept.close();
    bytes.replace(QByteArray("Хлеб").left(2), QByteArray("Ж").left(2));
    QFile back(copies + QLatin1Char('/') + name);
    ASSERT_TRUE(back.open(QIODevice::WriteOnly));
    back.write(bytes);
    back.close();
    QFile::setPermissions(back.fileName(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const std::uint64_t spoiledBytes = download(&spoiled);
    EXPECT_EQ(spoiled, journal);
    EXPECT_GT(spoiledBytes * 100, text * 95);
}

// The worked example of the protocol document, byte for byte.
TEST(WaresRows, DocumentedVector) {
    const QStringList wares{QStringLiteral("T1;Milk;4601234567893"), QStringLiteral("T2;Kefir;4601234567800")};
    const CBothEnds ends(wares);
    const auto& terminal = ends.terminal;
    const auto& copy = ends.copy;
    EXPECT_EQ(copy->Digest().toHex().toStdString(), std::string("b00a18b7dbd64b441312f47fc39b683be3331bed8d9e0701e6bca2c8ac52779b"));
    RecordBlock block;
    block.coding = BlockCoding::Windows1251;
    block.records = {"4601234567800;1;T2", "4601234567893;2;T1"};
    const char* hex =
        "01 02 03 02 00 02 02 05 B0 0A 18 B7 DB D6 4B 44 13 12 F4 7F C3 9B 68 3B E3 33 1B ED 8D 9E 07 01 E6 BC A2 C8 AC "
        "52 77 9B 02 01 02 00 00 00 02 00 01 00 00 00 02 00 00 00 01 02 01 01 02 00 00 00 02 00 01 01 02 00 00 01 00 00 "
        "06 00 00 02 00 00 00 00 00";
    EXPECT_EQ(EncodeRecordBlock(block, 1, terminal.get()).toHex(' ').toUpper().toStdString(), std::string(hex));
    const QByteArray given = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    const BlockReferences references = Resolving(copy.get());
    RecordBlock out;
    ASSERT_TRUE(DecodeRecordBlock(given.constData(), given.size(), &out, &references));
    EXPECT_EQ(out.records, block.records);
}

TEST(WaresCopies, NothingIsMadeUntilACopyIsKeptAndALinkInTheFoldersPlaceIsRefused) {
    CTestDir dir;
    const QString folder = dir.File(QStringLiteral("wares"));
    CWaresCopies copies(folder);
    // A session that only reads (or one on a fast line) leaves no trace.
    EXPECT_TRUE(copies.Usable());
    EXPECT_TRUE(copies.Held(2).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(folder));
    // A link where the folder would be, even to a private folder of this user's.
    const QString real = dir.File(QStringLiteral("real"));
    ASSERT_TRUE(QDir().mkdir(real));
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0700), 0);
    ASSERT_EQ(::symlink(QFile::encodeName(real).constData(), QFile::encodeName(folder).constData()), 0);
    EXPECT_FALSE(copies.Usable());
    copies.Begin();
    copies.Add(QStringLiteral("T1;x;4601234567893"));
    EXPECT_FALSE(copies.Confirm());
    EXPECT_TRUE(QDir(real).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

// A program killed at any point of keeping a copy leaves the copies as they
// were or the new copy whole: never a copy that is not what its name says.
TEST(WaresCopies, AKillWhileACopyIsWrittenOrKeptLeavesOldCopiesOrTheNewOneWhole) {
    CTestDir dir;
    const QString folder = dir.File(QStringLiteral("wares"));
    QRandomGenerator random(17);
    const QStringList wares = Wares(20000, random);
    const QByteArray digest = CWaresCopy::FromRecords(wares)->Digest();
    // Killed with SIGKILL at a point the test chooses: halfway through the
    // records, and right after the terminal's confirmation was kept.
    for (const bool confirmed : {false, true}) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            CWaresCopies copies(folder);
            copies.Begin();
            for (int i = 0; i < wares.size(); ++i) {
                copies.Add(wares[i]);
                if (!confirmed && i == wares.size() / 2) ::raise(SIGKILL);
            }
            if (copies.Confirm()) ::raise(SIGKILL);
            ::_exit(3);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        CWaresCopies copies(folder);
        if (!confirmed) {
            EXPECT_TRUE(copies.Held(10).isEmpty());
            EXPECT_TRUE(QDir(folder).entryList({QStringLiteral("*.wares")}, QDir::Files | QDir::Hidden).isEmpty());
            continue;
        }
        ASSERT_EQ(copies.Held(10), QList<QByteArray>{digest});
        const auto copy = copies.Load(digest);
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->RowCount(), 20000u);
    }
}
