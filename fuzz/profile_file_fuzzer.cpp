// The profile files (kxloader.ini, kxconfig.ini, win.ini, parlink.ini,
// components.ini, kxterminal's terminal.ini): a file of any bytes, then a few
// writes of the program's sections and keys with any values.
//
// After each write the value reads back as written (profile values are read
// without their surrounding blanks, as Windows reads them), every other key
// reads as before, and every other line of the file keeps its bytes: a user's
// comments, keys the program does not know and text in another encoding stay
// as they were. A write that cannot keep that promise must fail and leave the
// file as it was. An integer written as decimal text reads back as itself.

#include "fuzz/FuzzSupport.h"
#include "platform/ProfileFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QFile>
#include <QHash>
#include <QList>
#include <QStringList>

namespace {

const QStringList kSections = {QStringLiteral("kxloader.exe"), QStringLiteral("ZQR"), QStringLiteral("link"),
                               QStringLiteral("ports"), QStringLiteral("filters")};
const QStringList kKeys = {QStringLiteral("port"),    QStringLiteral("config"),   QStringLiteral("OverwriteJournal"),
                           QStringLiteral("setedit"), QStringLiteral("Parlink"), QStringLiteral("DirectoryCodePage"),
                           QStringLiteral("Ware")};
const QString kMissing = QStringLiteral("\x01missing");

// The file's lines as bytes, without their line ends (CR LF or LF) and
// without a byte order mark.
QList<QByteArray> Lines(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    for (QByteArray& l : lines)
        if (l.endsWith('\r')) l.chop(1);
    return lines;
}

// True when `after` is `before` with one line replaced by `entry`, or `entry`
// inserted, or `header` and `entry` appended.
bool OnlyTheEntryChanged(const QList<QByteArray>& before, const QList<QByteArray>& after, const QByteArray& entry,
                         const QByteArray& header) {
    if (after.size() == before.size()) {
        int differing = 0;
        for (qsizetype i = 0; i < after.size(); ++i)
            if (after[i] != before[i]) {
                if (after[i] != entry) return false;
                ++differing;
            }
        return differing <= 1;
    }
    if (after.size() == before.size() + 1) {
        for (qsizetype i = 0; i < after.size(); ++i) {
            if (after[i] != entry) continue;
            QList<QByteArray> rest = after;
            rest.removeAt(i);
            if (rest == before) return true;
        }
        return false;
    }
    return after.size() == before.size() + 2 && after.mid(0, before.size()) == before &&
           after[before.size()] == header && after[before.size() + 1] == entry;
}

QString AnyValue(FuzzedDataProvider& fdp) {
    QString value = QString::fromUtf8(QByteArray::fromStdString(fdp.ConsumeRandomLengthString(80)));
    switch (fdp.ConsumeIntegralInRange(0, 7)) {
    case 0: value.insert(fdp.ConsumeIntegralInRange<int>(0, static_cast<int>(value.size())), QLatin1Char('\n')); break;
    case 1: value.insert(fdp.ConsumeIntegralInRange<int>(0, static_cast<int>(value.size())), QLatin1Char('\r')); break;
    case 2: value = QLatin1Char(' ') + value + QLatin1Char('\t'); break;
    case 3: value = QStringLiteral("/home/оператор/проекты/склад ") + value + QStringLiteral(".kxc"); break;
    case 4: value = value.repeated(20); break;
    default: break;
    }
    return value;
}

QString Show(const QString& s) { return HexPreview(s.toUtf8(), 48); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    const QString ini = ScratchPath(QStringLiteral("kxloader.ini"));
    const QByteArray initial = QByteArray::fromStdString(fdp.ConsumeRandomLengthString(3000));
    QFile::remove(ini);
    if (fdp.ConsumeBool() || !initial.isEmpty()) WriteScratchFile(ini, initial);

    const int writes = fdp.ConsumeIntegralInRange(1, 6);
    for (int w = 0; w < writes && fdp.remaining_bytes() > 0; ++w) {
        const QString section = kSections[fdp.ConsumeIntegralInRange<int>(0, static_cast<int>(kSections.size()) - 1)];
        const QString key = kKeys[fdp.ConsumeIntegralInRange<int>(0, static_cast<int>(kKeys.size()) - 1)];
        const bool number = fdp.ConsumeIntegralInRange(0, 3) == 0;
        const int integer = fdp.ConsumeIntegral<int>();
        const QString value = number ? QString::number(integer) : AnyValue(fdp);

        QHash<QString, QString> before;
        for (const QString& s : kSections)
            for (const QString& k : kKeys) before[s + QLatin1Char('/') + k] = Profile::ReadString(ini, s, k, kMissing);
        const QByteArray bytesBefore = ReadScratchFile(ini);

        const bool written = Profile::WriteString(ini, section, key, value);
        const QByteArray bytesAfter = ReadScratchFile(ini);
        if (!written) {
            KX_FUZZ_CHECK(bytesAfter == bytesBefore, QStringLiteral("a failed write changed the file"));
            continue;
        }
        const QString read = Profile::ReadString(ini, section, key, kMissing);
        KX_FUZZ_CHECK(read == value.trimmed().left(1023),
                      QStringLiteral("[%1] %2 written %3, read %4").arg(section, key, Show(value), Show(read)));
        if (number)
            KX_FUZZ_CHECK(Profile::ReadInt(ini, section, key, 7) == integer,
                          QStringLiteral("%1 written, %2 read").arg(integer).arg(Profile::ReadInt(ini, section, key, 7)));
        for (const QString& s : kSections)
            for (const QString& k : kKeys) {
                if (s == section && k == key) continue;
                const QString now = Profile::ReadString(ini, s, k, kMissing);
                KX_FUZZ_CHECK(now == before[s + QLatin1Char('/') + k],
                              QStringLiteral("writing [%1] %2 = %3 changed [%4] %5 from %6 to %7")
                                  .arg(section, key, Show(value), s, k, Show(before[s + QLatin1Char('/') + k]), Show(now)));
            }
        const QByteArray entry = (key + QLatin1Char('=') + value).toUtf8();
        KX_FUZZ_CHECK(OnlyTheEntryChanged(Lines(bytesBefore), Lines(bytesAfter), entry,
                                          (QLatin1Char('[') + section + QLatin1Char(']')).toUtf8()),
                      QStringLiteral("writing [%1] %2 changed other lines: before %3, after %4")
                          .arg(section, key, HexPreview(bytesBefore), HexPreview(bytesAfter)));
    }
    return 0;
}
