// Figures of the link over a pseudo-terminal, driven through the component
// the way the exchange routines drive it:
//   - records per second uploading a 100,000-line wares directory;
//   - lines per second downloading a 100,000-line journal;
//   - wire bytes per payload byte in both directions;
//   - with the emulator paced to 115,200 baud: payload bytes per second as a
//     share of the line's 11,520 bytes per second.
//
//   link_bench [--records N] [--journal N] [--baud-bytes N]

#include "components/parlink/ParlinkX2.h"
#include "platform/CodePage.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

class CEmulator {
public:
    bool Start(const QString& state, const QStringList& extra) {
        m_process.setProgram(QStringLiteral(KX_PROGRAM_DIR "/kxterminal"));
        m_process.setArguments(QStringList{QStringLiteral("--state"), state, QStringLiteral("--pty")} + extra);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(30000)) return false;
        QByteArray out;
        QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()) {
            m_process.waitForReadyRead(100);
            out += m_process.readAllStandardOutput();
            const int idx = out.indexOf('\n');
            if (idx >= 0 && out.startsWith("port: ")) {
                m_port = QString::fromLocal8Bit(out.mid(6, idx - 6)).trimmed();
                return true;
            }
        }
        return false;
    }
    ~CEmulator() {
        m_process.terminate();
        if (!m_process.waitForFinished(5000)) m_process.kill();
        m_process.waitForFinished(5000);
    }
    QString Port() const { return m_port; }

private:
    QProcess m_process;
    QString m_port;
};

QString WareLine(int i) {
    return QStringLiteral("%1;460%2;Товар номер %3, упаковка %4 шт;шт;%5.%6")
        .arg(i)
        .arg(i, 10, 10, QLatin1Char('0'))
        .arg(i)
        .arg(i % 24 + 1)
        .arg(i % 1000)
        .arg(i % 100, 2, 10, QLatin1Char('0'));
}

QString JournalLine(int i) {
    return QStringLiteral("460%1;%2;%3;%4;%5;%6;Товар %7;20240115 12:%8:%9;")
        .arg(i, 10, 10, QLatin1Char('0'))
        .arg(i % 7 + 1)
        .arg(i % 5 + 1)
        .arg(i % 3 + 1)
        .arg(i % 11 + 1)
        .arg(i % 13 + 1)
        .arg(i)
        .arg(i % 60, 2, 10, QLatin1Char('0'))
        .arg(i % 59, 2, 10, QLatin1Char('0'));
}

qint64 Utf8Size(const QString& s) {
    qint64 n = 0;
    for (QChar c : s) n += c.unicode() < 0x80 ? 1 : c.unicode() < 0x800 ? 2 : 3;
    return n;
}

bool Connect(CParlinkX2& link, const QString& port) {
    return link.OpenPort(port) == 1 && link.WaitLink(30000) == 1;
}

bool WaitSync(CParlinkX2& link) {
    QString answer;
    for (int i = 0; i < 100000; ++i) {
        if (link.Receive(&answer) != 1) return false;
        if (answer == QLatin1String("SYNC")) return true;
        if (!answer.isEmpty()) return false;
        QThread::msleep(5);
    }
    return false;
}

struct UploadResult {
    bool ok = false;
    double seconds = 0;
    qint64 payload = 0;  // text bytes as carried (UTF-8)
    qint64 file = 0;     // bytes stored by the terminal (Windows-1251, CR LF)
    Link::EndpointStats stats;
};

// Sends `count` ware records the way the directory upload does (pieces of
// 200 characters) and waits for the terminal's commit.
UploadResult Upload(const QString& port, int count) {
    UploadResult r;
    CParlinkX2 link{QString()};
    if (!Connect(link, port)) return r;
    QElapsedTimer t;
    t.start();
    link.SendCommand(QStringLiteral("303"));
    link.SendData(QStringLiteral("20240115120000"));
    link.SendCommand(QStringLiteral("002"));
    link.SendCommand(QStringLiteral("151"));
    for (int i = 0; i < count; ++i) {
        const QString line = WareLine(i);
        r.payload += Utf8Size(line);
        r.file += CodePage::ToWindows1251(line).size() + 2;
        for (qsizetype off = 0; off <= line.size(); off += 200)
            if (link.SendData(line.mid(off, 200)) != 1) return r;
    }
    link.EndData();
    link.SendCommand(QStringLiteral("003"));
    r.ok = WaitSync(link);
    r.seconds = t.elapsed() / 1000.0;
    if (link.Session()) {
        r.stats = link.Session()->Stats();
        if (!r.ok) std::fprintf(stderr, "upload failed: %s\n", qPrintable(link.Session()->FailureText()));
    }
    link.SendCommand(QStringLiteral("004"));
    link.ClosePort();
    return r;
}

struct JournalResult {
    bool ok = false;
    int lines = 0;
    double seconds = 0;
    qint64 payload = 0;
    Link::EndpointStats stats;
};

// Serves `count` journal lines and downloads them as the journal routine does.
JournalResult Journal(const QString& port, const QString& stateDir, int count) {
    JournalResult r;
    QByteArray journal;
    for (int i = 0; i < count; ++i) {
        const QString line = JournalLine(i);
        r.payload += Utf8Size(line);
        journal += CodePage::ToWindows1251(line) + "\r\n";
    }
    QFile jf(stateDir + QStringLiteral("/journal.txt"));
    if (!jf.open(QIODevice::WriteOnly) || jf.write(journal) != journal.size()) return r;
    jf.close();
    CParlinkX2 link{QString()};
    if (!Connect(link, port)) return r;
    QElapsedTimer t;
    t.start();
    link.SendCommand(QStringLiteral("020"));
    QString answer;
    link.Receive(&answer);
    const int announced = answer.toInt();
    link.SendCommand(QStringLiteral("021"));
    bool ended = false;
    while (link.Receive(&answer) == 1) {
        if (!answer.isEmpty() && answer[0] == QChar(0x0004)) {
            ended = true;
            break;
        }
        if (!answer.isEmpty()) ++r.lines;
    }
    r.seconds = t.elapsed() / 1000.0;
    if (link.Session()) r.stats = link.Session()->Stats();
    link.SendCommand(QStringLiteral("004"));
    link.ClosePort();
    r.ok = ended && r.lines == count && announced == count;
    return r;
}

void PrintFigure(const char* name, double value, const char* unit, const char* note = "") {
    std::printf("%-46s %12.2f %-10s %s\n", name, value, unit, note);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int records = 100000;
    int journalLines = 100000;
    int baudRecords = 1500;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--records")) records = args[i + 1].toInt();
        if (args[i] == QLatin1String("--journal")) journalLines = args[i + 1].toInt();
        if (args[i] == QLatin1String("--baud-records")) baudRecords = args[i + 1].toInt();
    }
    QTemporaryDir state;
    bool allOk = true;

    std::printf("link over a pseudo-terminal (kxterminal), through the component\n");
    {
        CEmulator emulator;
        if (!emulator.Start(state.path(), {})) {
            std::fprintf(stderr, "cannot start kxterminal\n");
            return 1;
        }
        const UploadResult up = Upload(emulator.Port(), records);
        allOk &= up.ok;
        PrintFigure("upload: wares records", records, "records", up.ok ? "" : "FAILED");
        PrintFigure("upload: records per second", records / up.seconds, "rec/s", "(target >= 20000)");
        PrintFigure("upload: payload MB per second", up.payload / up.seconds / 1e6, "MB/s");
        PrintFigure("upload: wire bytes per payload byte",
                    static_cast<double>(up.stats.wireBytesSent) / static_cast<double>(up.payload), "",
                    "(payload = record text in UTF-8)");
        PrintFigure("upload: frames sent again", static_cast<double>(up.stats.dataFramesResent), "frames");
        const QByteArray stored = [&] {
            QFile f(state.filePath(QStringLiteral("directories/wares.ux7")));
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        if (stored.size() != up.file) {
            std::printf("upload: stored file has %lld bytes, expected %lld\n", static_cast<long long>(stored.size()),
                        static_cast<long long>(up.file));
            allOk = false;
        }

        const JournalResult j = Journal(emulator.Port(), state.path(), journalLines);
        allOk &= j.ok;
        PrintFigure("journal: lines", j.lines, "lines", j.ok ? "" : "FAILED");
        PrintFigure("journal: lines per second", j.lines / j.seconds, "lines/s", "(target >= 20000)");
        PrintFigure("journal: wire bytes per payload byte",
                    static_cast<double>(j.stats.wireBytesReceived) / static_cast<double>(j.payload), "");
    }

    std::printf("\nlink paced to 115200 baud (10 bits a byte: 11520 bytes/s each way)\n");
    {
        QTemporaryDir slowState;
        CEmulator emulator;
        if (!emulator.Start(slowState.path(), {QStringLiteral("--baud"), QStringLiteral("115200")})) return 1;
        const UploadResult up = Upload(emulator.Port(), baudRecords);
        allOk &= up.ok;
        const double rate = up.payload / up.seconds;
        PrintFigure("115200: records", baudRecords, "records", up.ok ? "" : "FAILED");
        PrintFigure("115200: payload bytes per second", rate, "B/s", "(payload = record text in UTF-8)");
        PrintFigure("115200: share of 11520 bytes/s", 100.0 * rate / 11520.0, "%", "(target >= 85)");
        PrintFigure("115200: stored file bytes per second", up.file / up.seconds, "B/s",
                    "(Windows-1251 with CR LF, as the terminal keeps them)");
        PrintFigure("115200: wire bytes per payload byte",
                    static_cast<double>(up.stats.wireBytesSent) / static_cast<double>(up.payload), "");
        PrintFigure("115200: frames sent again", static_cast<double>(up.stats.dataFramesResent), "frames");

        const JournalResult j = Journal(emulator.Port(), slowState.path(), baudRecords);
        allOk &= j.ok;
        const double jrate = j.payload / j.seconds;
        PrintFigure("115200: journal lines per second", j.lines / j.seconds, "lines/s", j.ok ? "" : "FAILED");
        PrintFigure("115200: journal payload bytes per second", jrate, "B/s");
        PrintFigure("115200: journal share of 11520 bytes/s", 100.0 * jrate / 11520.0, "%", "(target >= 85)");
        PrintFigure("115200: journal wire bytes per payload byte",
                    static_cast<double>(j.stats.wireBytesReceived) / static_cast<double>(j.payload), "");
    }
    return allOk ? 0 : 1;
}
