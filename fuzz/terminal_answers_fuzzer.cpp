// The program's reading of the terminal's answers (exchange/): its identity
// ("--s", "--h"), readiness ("998"), the journal's line count ("020") and
// lines ("021"/"031"), the program version that journal filters need, the
// synchronisation answer of an upload with its rejection number and text,
// and the info table's records. The answers, and one call of the component
// that fails, come from the input.
//
// Whatever the terminal answers, every routine returns one of its own result
// codes, gives the component object back and closes every port it opened,
// and:
// - the identity box shows the answers' fields as sent;
// - a download that succeeds leaves in the journal (info) file exactly the
//   records received, one file line each (a line break inside a record
//   becomes a space), in Windows-1251, and a journal count that succeeds is a
//   count of lines;
// - a rejected upload's code is 200 plus the terminal's number, and its text
//   is the terminal's third field.

#include "directories/DirectoryFiles.h"
#include "directories/LineReader.h"
#include "exchange/DirectoryUpload.h"
#include "exchange/ExchangeCodes.h"
#include "exchange/InfoTable.h"
#include "exchange/JournalExchange.h"
#include "exchange/TerminalSession.h"
#include "fuzz/FuzzParlink.h"
#include "fuzz/FuzzSupport.h"
#include "platform/CodePage.h"
#include "platform/LeadingInteger.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <climits>

namespace {

QString Show(const QString& s) { return HexPreview(s.toUtf8(), 48); }

QStringList AnswersFrom(FuzzedDataProvider& fdp) {
    QStringList answers;
    while (fdp.remaining_bytes() > 0 && answers.size() < 200) {
        QString a = QString::fromUtf8(QByteArray::fromStdString(fdp.ConsumeRandomLengthString(120)));
        // The end of a stream comes now and then.
        if (a == QLatin1String("$")) a = QString(QChar(0x0004));
        answers << a;
    }
    return answers;
}

// The lines a file holds, as the journal view reads them.
QList<QByteArray> FileLines(const QString& path) {
    QList<QByteArray> lines;
    CDirectoryLineReader reader(1 << 20);
    if (!reader.Open(path)) return lines;
    QByteArrayView line;
    while (reader.ReadLine(&line)) lines << line.toByteArray();
    return lines;
}

// The records of a download up to the end marker.
QStringList Streamed(QStringList answers) {
    QStringList lines;
    for (const QString& a : answers) {
        if (a == QChar(0x0004)) break;  // the whole answer; a record may begin with it
        lines << a;
    }
    return lines;
}

// A received record as its one line of the file: line breaks inside it
// become spaces.
QString AsOneLine(QString record) {
    return record.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

void CheckLinesKept(const QString& path, const QStringList& received, const QString& what) {
    const QList<QByteArray> lines = FileLines(path);
    KX_FUZZ_CHECK(lines.size() == received.size(),
                  QStringLiteral("%1: %2 lines received, %3 in the file").arg(what).arg(received.size()).arg(lines.size()));
    for (qsizetype i = 0; i < lines.size(); ++i)
        KX_FUZZ_CHECK(lines[i] == CodePage::ToWindows1251(AsOneLine(received[i])),
                      QStringLiteral("%1: line %2 received as %3, kept as %4")
                          .arg(what)
                          .arg(i)
                          .arg(Show(received[i]), HexPreview(lines[i])));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    const int routine = fdp.ConsumeIntegralInRange(0, 5);
    const bool fail = fdp.ConsumeIntegralInRange(0, 3) == 0;
    const int failCall = fail ? fdp.ConsumeIntegralInRange(1, 40) : -1;
    const bool countOnly = fdp.ConsumeBool();
    const bool journalIdOn = fdp.ConsumeBool();
    const bool withFilters = fdp.ConsumeBool();

    QuietPlatform();
    ClearScratch();
    SetProjectPath(ScratchPath(QStringLiteral("project/demo.kxc")));
    QDir().mkpath(ScratchPath(QStringLiteral("project/files")));
    const DirectoryFiles files = CurrentDirectoryFiles();

    CFuzzParlink link;
    link.failCall = failCall;
    link.answers = AnswersFrom(fdp);
    const QStringList answers = link.answers;
    int result = 0;
    {
        CScopedParlinkProvider provider(link);
        switch (routine) {
        case 0: {
            TerminalSession session;
            session.showMessages = false;
            result = session.ConnectTerminal(QStringLiteral("COM1"));
            KX_FUZZ_CHECK(result >= 0 && result <= 4, QStringLiteral("ConnectTerminal gave %1").arg(result));
            if (result == 0) {
                const QStringList s = answers.value(0).isEmpty() ? QStringList() : answers.value(0).split(QLatin1Char(';'));
                const QStringList h = answers.value(1).isEmpty() ? QStringList() : answers.value(1).split(QLatin1Char(';'));
                const QString expected = QStringLiteral("Программа: ") + s.value(0) +
                                         QStringLiteral("\nВерсия программы: ") + s.value(1) +
                                         QStringLiteral("\n\nТерминал: ") + h.value(1) +
                                         QStringLiteral("\nDeviceID: ") + h.value(2) +
                                         QStringLiteral("\n\nВерсия parlink.dll: 2.1\nВерсия протокола parlink: 2");
                KX_FUZZ_CHECK(TerminalInfoText(session.info) == expected,
                              QStringLiteral("identity shown as %1").arg(Show(TerminalInfoText(session.info))));
            }
            break;
        }
        case 1:
        case 2: {
            JournalExchange journal;
            journal.showMessages = false;
            JournalDownloadOptions options;
            options.journalIdOn = journalIdOn;
            options.countOnly = countOnly;
            if (withFilters) {
                options.filters.anySet = true;
                options.filters.operationId = 3;
                options.filters.ware = QStringLiteral("Молоко");
            }
            result = journal.DownloadJournal(QStringLiteral("COM1"), options);
            static const QList<int> codes = {0, 1, 2, 3, 4, 10, 12, 50, 55, 57};
            KX_FUZZ_CHECK(codes.contains(result), QStringLiteral("DownloadJournal gave %1").arg(result));
            if (result != 0) break;
            // Where the count and the lines sit among the answers: after
            // "998", and after the version when filters went first.
            const int countAt = withFilters ? 2 : 1;
            const int announced = LeadingInteger(answers.value(countAt));
            if (countOnly) {
                KX_FUZZ_CHECK(announced > 0 && ReadScratchFile(files.journalFile) == QByteArray::number(announced),
                              QStringLiteral("count %1 kept as %2").arg(Show(answers.value(countAt)),
                                                                         QString::fromLatin1(ReadScratchFile(files.journalFile))));
            } else {
                CheckLinesKept(files.journalFile, Streamed(answers.mid(countAt + 1)), QStringLiteral("journal"));
            }
            break;
        }
        case 3: {
            JournalExchange journal;
            journal.showMessages = false;
            FilterSet filters;
            filters.anySet = withFilters;
            filters.barcode = QStringLiteral("4600001");
            result = journal.ApplyFilters(QStringLiteral("COM1"), filters);
            KX_FUZZ_CHECK(result >= 0 && (result <= 4 || result == 57), QStringLiteral("ApplyFilters gave %1").arg(result));
            break;
        }
        case 4: {
            WriteScratchFile(files.directories[WareDetails], "4600001000012;4600001;1;шт\r\n");
            UploadSelection selection;
            selection.showMessages = false;
            selection.Select(WareDetails);
            result = UploadDirectories(selection, QStringLiteral("COM1"));
            KX_FUZZ_CHECK(result == 0 || result == 4 || result == 5 || result == 110 || result >= 200 ||
                              (result >= 1 && result <= 3) || result == 24,
                          QStringLiteral("UploadDirectories gave %1").arg(result));
            if (result >= 200) {
                // The first answer that was neither empty nor "SYNC" is the rejection.
                QString rejection;
                for (const QString& a : answers)
                    if (!a.isEmpty()) {
                        rejection = a;
                        break;
                    }
                const QStringList tokens =
                    rejection.split(QRegularExpression(QStringLiteral("[;\\r\\n]+")), Qt::SkipEmptyParts);
                // A number beyond what a code can hold gives the largest code.
                const int number = std::min(LeadingInteger(tokens.value(1)), INT_MAX - 200);
                KX_FUZZ_CHECK(tokens.size() >= 2 && result - 200 == number &&
                                  selection.DiagnosticText == tokens.value(2),
                              QStringLiteral("rejection %1 gave %2 and %3").arg(Show(rejection)).arg(result).arg(Show(selection.DiagnosticText)));
            }
            break;
        }
        default: {
            UploadSelection selection;
            selection.showMessages = false;
            result = DownloadInfoTable(selection, QStringLiteral("COM1"));
            KX_FUZZ_CHECK(result >= 0 && (result <= 4 || result == 69), QStringLiteral("DownloadInfoTable gave %1").arg(result));
            if (result == 0) CheckLinesKept(files.infoFile, Streamed(answers), QStringLiteral("info table"));
            break;
        }
        }
    }
    KX_FUZZ_CHECK(link.Balanced(), QStringLiteral("routine %1: %2 objects made, %3 given back, %4 ports opened, %5 closed")
                                       .arg(routine)
                                       .arg(link.creations)
                                       .arg(link.releases)
                                       .arg(link.opens)
                                       .arg(link.closes));
    return 0;
}
