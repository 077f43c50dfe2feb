#include "app/CommandLineProgress.h"

#include "platform/Clock.h"

#include <QString>

#ifdef _WIN32
#include <io.h>
#define KX_ISATTY _isatty
#define KX_FILENO _fileno
#else
#include <unistd.h>
#define KX_ISATTY isatty
#define KX_FILENO fileno
#endif

namespace {
// Back to the start of the line and clear it: the line is redrawn in place.
constexpr const char* kEraseLine = "\r\x1b[K";
// The rate is a guess until the transfer has run this long.
constexpr std::int64_t kRateAfterMs = 1000;
}  // namespace

bool CConsoleTransferProgress::StandardErrorIsTerminal() { return KX_ISATTY(KX_FILENO(stderr)) != 0; }

QString FormatDuration(qint64 seconds) {
    if (seconds < 0) seconds = 0;
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0) return QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, QLatin1Char('0')).arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

void CConsoleTransferProgress::Begin(const QString& what, qint64 total) {
    if (!m_enabled) return;
    m_what = what;
    m_total = total;
    m_done = 0;
    m_startMs = Clock().NowMs();
    Draw(m_startMs);
}

void CConsoleTransferProgress::Advance(qint64 done) {
    if (!m_enabled || m_what.isEmpty()) return;
    m_done = done;
    const std::int64_t now = Clock().NowMs();
    if (now - m_drawnMs >= kRedrawMs) Draw(now);
}

void CConsoleTransferProgress::Draw(std::int64_t now) {
    m_drawnMs = now;
    QString text = m_total > 0 ? QStringLiteral("%1: %2 of %3 records").arg(m_what).arg(m_done).arg(m_total)
                               : QStringLiteral("%1: %2 records").arg(m_what).arg(m_done);
    const std::int64_t elapsed = now - m_startMs;
    if (elapsed >= kRateAfterMs && m_done > 0) {
        const double perSecond = double(m_done) * 1000.0 / double(elapsed);
        text += QStringLiteral(", %1 records/s").arg(qRound64(perSecond));
        if (m_total > m_done)
            text += QStringLiteral(", %1 left").arg(FormatDuration(qRound64(double(m_total - m_done) / perSecond)));
    }
    const QByteArray line = kEraseLine + text.toUtf8();
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_stream);
    std::fflush(m_stream);
    m_shown = true;
}

void CConsoleTransferProgress::Finish() {
    m_what.clear();
    if (!m_shown) return;
    std::fputs(kEraseLine, m_stream);
    std::fflush(m_stream);
    m_shown = false;
}
