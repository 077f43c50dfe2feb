#pragma once
// What the link benches do on the component the way the exchange routines
// do it, and the clock they measure it with.

#include "bench/link/BenchCpu.h"
#include "components/parlink/session/ParlinkX2.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtGlobal>

#include <algorithm>
#include <cstdio>
#include <ctime>

inline bool Connect(CParlinkX2& link, const QString& port) {
    return link.OpenPort(port) == 1 && link.WaitLink(30000) == 1;
}

// Waits for the terminal's "SYNC" after a commit; false on anything else.
inline bool WaitSync(CParlinkX2& link) {
    QString answer;
    for (;;) {
        if (link.Receive(&answer) != 1) return false;
        if (answer == QLatin1String("SYNC")) return true;
        if (!answer.isEmpty()) return false;
        QThread::msleep(5);
    }
}

// One record as the directory upload sends it: pieces of 200 characters.
inline bool SendRecord(CParlinkX2& link, const QString& line) {
    for (qsizetype off = 0; off <= line.size(); off += 200)
        if (link.SendData(line.mid(off, 200)) != 1) return false;
    return true;
}

// The same for a record in Windows-1251, as the exchange sends a file's lines.
inline bool SendRecordWindows1251(CParlinkX2& link, QByteArrayView line) {
    for (qsizetype off = 0; off <= line.size(); off += 200)
        if (link.SendDataWindows1251(line.sliced(off, std::min<qsizetype>(200, line.size() - off))) != 1) return false;
    return true;
}

// Receives journal lines until the end marker, handing each non-empty line
// to `take`; true when the end marker came.
template <class Take>
bool ReceiveJournal(CParlinkX2& link, Take take) {
    QString answer;
    while (link.Receive(&answer) == 1) {
        if (!answer.isEmpty() && answer[0] == QChar(0x0004)) return true;
        if (!answer.isEmpty()) take(answer);
    }
    return false;
}

// The same, each line as Windows-1251 bytes where it fits the page (as the
// exchange writes a journal file), else as its text.
template <class Take>
bool ReceiveJournalWindows1251(CParlinkX2& link, Take take) {
    QByteArrayView bytes;
    QString text;
    while (link.ReceiveWindows1251(&bytes, &text) == 1) {
        if (!bytes.isEmpty() ? bytes[0] == '\x04' : (!text.isEmpty() && text[0] == QChar(0x0004))) return true;
        if (!bytes.isEmpty() || !text.isEmpty()) take(bytes, text);
    }
    return false;
}

// Wall time and the processor time of this process and of the emulator
// (`terminalPid`) from construction to Stop().
class CStopwatch {
public:
    explicit CStopwatch(qint64 terminalPid)
        : m_pid(terminalPid), m_program(OwnCpuSeconds()), m_terminal(ProcessCpuSeconds(terminalPid)) {
        m_wall.start();
    }
    // Into any figures with `seconds`, `programCpu` and `terminalCpu`.
    template <class Figures>
    void Stop(Figures& figures) const {
        figures.seconds = static_cast<double>(m_wall.elapsed()) / 1000.0;
        figures.programCpu = OwnCpuSeconds() - m_program;
        figures.terminalCpu = ProcessCpuSeconds(m_pid) - m_terminal;
        // KX_BENCH_SPANS=1: the measured span in CLOCK_MONOTONIC seconds, for
        // `perf record -k CLOCK_MONOTONIC` and `perf report --time FROM,TO`.
        if (qEnvironmentVariableIsSet("KX_BENCH_SPANS")) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            const double end = static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
            std::fprintf(stderr, "span: %.6f,%.6f\n", end - figures.seconds, end);
        }
    }

private:
    qint64 m_pid;
    double m_program;
    double m_terminal;
    QElapsedTimer m_wall;
};
