#pragma once
// One journal download inside a session JournalExchange opened (the terminal
// known, an owed filter reset sent), as the steps it takes: the terminal ready
// and its clock set, the filters, the window of numbered scans, the line
// count, the file staged, the lines received, the commit and the end of the
// exchange (with the clear asked for). Each step returns 0 to go on, else the
// code the download ends with, its message shown and the session closed.

#include "exchange/JournalExchange.h"
#include "exchange/StagedDownload.h"
#include "exchange/TerminalRecords.h"
#include "platform/NumberRanges.h"

#include <QString>

class CParlinkSession;

// How long the terminal may take to confirm filters, their reset or a clear.
inline constexpr int kFilterWaitLinkMs = 15000;

// "Ошибка обмена! Терминал не отвечает!"
QString NoAnswerText();

class CJournalDownload {
public:
    CJournalDownload(JournalExchange& owner, CParlinkSession& session, const QString& port,
                     const JournalDownloadOptions& options);
    CJournalDownload(const CJournalDownload&) = delete;
    CJournalDownload& operator=(const CJournalDownload&) = delete;

    // What JournalExchange::DownloadJournal returns.
    int Run();

private:
    int AskReady();
    int SetTerminalClock();
    int SetFilters();
    int AskWindow();
    int AskLineCount();
    int FinishEmpty();
    int AskNumbers();
    int OpenFile();
    void RecordCommit(qint64 received);
    int WriteCount();
    int ReceiveLines();
    int ReportRefusedLines();
    int CommitAndEnd();
    int ClearDownloaded();
    int EndExchange(bool sendEnd, qint64 kept);
    int Fail(int code, const QString& message, const QString& detail = QString());
    bool WaitsForLines() const { return m_numbered && !m_options.countOnly; }

    JournalExchange& m_owner;
    CParlinkSession& m_session;
    IParlinkX2& m_link;
    const QString& m_port;
    const JournalDownloadOptions& m_options;
    IExchangeProgress* m_progress;
    // A terminal that numbers its scans keeps the truth: a download takes
    // the scans above the newest one the file holds, the filters it sets
    // last for the session alone, and a clear names the newest scan it
    // erases. Without that, the program keeps what it can on its side.
    const bool m_numbered;
    const CTerminalRecords m_records;
    // Once filters that outlive the session may be on the terminal, every way
    // out resets them: a failed filtered download must not leave a filter
    // behind for the next plain download or clear.
    bool m_filtersSent = false;
    QString m_target;
    CNumberRanges m_held;      // the scans the file holds
    qint64 m_oldestKept = 0;   // the oldest scan the terminal still keeps
    CNumberRanges m_coming;    // the scans coming, in the order they come
    int m_announced = 0;
    int m_received = 0;
    int m_written = 0;
    CStagedDownload m_file;
};
