#pragma once
// Progress of the command line's long transfers on standard error: records
// done of the total, the rate and the time left, redrawn in place a few times
// a second and erased when the transfer ends. Only when standard error is a
// terminal: a warehouse system's logs never see it.

#include "exchange/ExchangeProgress.h"

#include <cstdint>
#include <cstdio>

class CConsoleTransferProgress : public ITransferProgress {
public:
    // `enabled` false: a progress that shows nothing (stderr is no terminal).
    CConsoleTransferProgress(std::FILE* stream, bool enabled) : m_stream(stream), m_enabled(enabled) {}
    ~CConsoleTransferProgress() override { Finish(); }

    // Whether standard error is a terminal (the progress is then shown).
    static bool StandardErrorIsTerminal();
    // Whether this progress draws anything at all.
    bool Shown() const { return m_enabled; }

    void Begin(const QString& what, qint64 total) override;
    void Advance(qint64 done) override;
    void Finish() override;

    // Redraws at most this often; the first state of a transfer shows at once.
    static constexpr std::int64_t kRedrawMs = 250;

private:
    void Draw(std::int64_t now);

    std::FILE* m_stream;
    bool m_enabled;
    bool m_shown = false;
    QString m_what;
    qint64 m_total = 0;
    qint64 m_done = 0;
    std::int64_t m_startMs = 0;
    std::int64_t m_drawnMs = 0;
};

// "1:05", "12:00:03": a duration in seconds as a person reads it.
QString FormatDuration(qint64 seconds);
