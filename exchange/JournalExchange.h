#pragma once
// The journal of the terminal: download or count it, set or reset its filters,
// clear it, and set the terminal's current operation, executor, address and
// document.

#include "exchange/ExchangeProgress.h"
#include "exchange/ParlinkComponent.h"
#include "exchange/StagedDownload.h"

#include <QString>

#include <optional>

// Journal filters. A filter is taken when its ID is non-zero or its text is not
// empty; `anySet` tells that any field was given at all.
struct FilterSet {
    bool anySet = false;
    int operationId = 0;  // "401"
    int executorId = 0;   // "403"
    int addressId = 0;    // "405"
    int documentId = 0;   // "407"
    QString ware;         // "408"
    QString barcode;      // "409"
};

// The current values /s sets; each one is sent only when present.
struct CurrentValues {
    std::optional<int> operation;  // "881"
    std::optional<int> executor;   // "883"
    std::optional<int> address;    // "885"
    std::optional<int> document;   // "887"
};

// What a journal download is asked to do.
struct JournalDownloadOptions {
    bool journalIdOn = false;  // lines with their record numbers ("031")
    bool countOnly = false;    // the announced line count alone
    FilterSet filters;
    bool overwrite = true;     // replace the file, else append to it
    // Clear what was downloaded, in the same session once the lines are
    // durably in the file (/j followed by /c): nothing made meanwhile is
    // erased, and no other run's wait can come in between.
    bool clearAfter = false;
};

// The folder of the per-terminal records (CTerminalRecords) in the current
// layout's state folder.
QString TerminalRecordsFolder();

// One object per owner (the journal window, a command-line run); it may serve
// several calls and asks the terminal's program version at most once.
class JournalExchange {
public:
    bool showMessages = true;    // error boxes and progress notifications
    QString caption;             // caption of the error boxes
    IExchangeProgress* progressWindow = nullptr;  // only SetItemRange/StepItem are used
    ITransferProgress* transferProgress = nullptr;  // journal lines received, whatever showMessages says
    bool firmwareChecked = false;  // the terminal's program is known to be new enough
    // After a failure: one line a person can act on (port, file, the
    // terminal's words).
    QString failureDetail;
    // The folder of what is kept per terminal (CTerminalRecords; empty: none
    // kept): the journal filter reset still owed to a terminal and the scans
    // each journal file holds. A filtered download of a terminal that keeps
    // no filters of a session notes the reset before it sends the filters
    // and drops it only once the terminal confirmed it; a reset asked for by
    // ApplyFilters is noted the same way. The next exchange with that
    // terminal, under whatever port name, resets the filters first, so no
    // plain download or clear runs under filters nobody asked for, even after
    // a killed run.
    QString recordsFolder;
    // The note of resets owed of earlier versions, keyed by the port's
    // spelling ("<settings file>.filter-reset"): honoured when a session opens
    // on a port it names, then dropped; never written any more.
    QString legacyFilterResetNote;
    // How long a download waits for another run writing the same file.
    int busyFileWaitMs = kDefaultBusyFileWaitMs;

    // Downloads the journal into the DirectoryFiles journal path (replacing it
    // when `overwrite`, else appending), or with `countOnly` writes only the
    // announced line count there. Returns 0, 1-4, 10, 12, 50, 55 or 57; with
    // `clearAfter` also 0-4 of the clear.
    int DownloadJournal(const QString& port, const JournalDownloadOptions& options);
    // The short form: every option but `clearAfter`.
    int DownloadJournal(const QString& port, bool journalIdOn, bool countOnly, const FilterSet& filters,
                        bool overwrite) {
        return DownloadJournal(port, {journalIdOn, countOnly, filters, overwrite});
    }
    // On an open link: sets the filters of `filters` when any is set, else
    // resets all filters ("40R"); 0 only when the terminal confirmed them (it
    // answered the link check sent after them). Returns 0, 4 or 57.
    int SendFilters(IParlinkX2& link, const FilterSet* filters);
    // A session of its own around SendFilters. Returns 0-4 or 57.
    int ApplyFilters(const QString& port, const FilterSet& filters);
    // Empties the journal; of a terminal that numbers its scans, only the
    // scans this computer holds in a journal file. Returns 0-4 or 6.
    int ClearJournal(const QString& port);
    // Returns 0-4.
    int SetCurrentValues(const QString& port, const CurrentValues& values);

private:
    // Asks the terminal's program version unless it passed before: 0, 57
    // when it is older than 4.3.5, 4 when the link fails on the way.
    int CheckFirmware(IParlinkX2& link);
    // Opens the session and learns whom it is with: the terminal's identity
    // (its DeviceID, asked when the records need it) keys what is kept.
    int OpenTerminal(class CParlinkSession& session, const QString& port, bool needIdentity);
    // After the opening: sends the reset owed to this terminal, if any. 0, or 4
    // when the terminal did not confirm it (the note stays).
    int SendPendingFilterReset(class CParlinkSession& session);
    // A quiet reset of the filters a failed download set; the note goes once
    // the terminal confirmed it.
    void ResetFiltersQuietly(IParlinkX2& link);
    void ForgetFilterReset();
    // The download's steps run inside a session opened here and use the
    // checks, resets and identity above.
    friend class CJournalDownload;

    QString m_terminal;  // the identity of the terminal of the session under way
};

// The terminal's program version "major.minor.build[.x]" is new enough for
// journal filters (4.3.5 or later).
bool FirmwareSupportsFilters(const QString& programVersion);
