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
    // The note of filter resets still owed (CFilterResetNote; empty: none
    // kept). A filtered download notes its port before it sends the filters
    // and drops it only once the terminal confirmed their reset; a reset
    // asked for by ApplyFilters is noted the same way. The next exchange of
    // this kind on a noted port resets the filters first, so no plain
    // download or clear ever runs under filters nobody asked for, even after
    // a killed run.
    QString filterResetMarker;
    // How long a download waits for another run writing the same file.
    int busyFileWaitMs = kDefaultBusyFileWaitMs;

    // Downloads the journal into the DirectoryFiles journal path (replacing it
    // when `overwrite`, else appending), or with `countOnly` writes only the
    // announced line count there. Returns 0, 1-4, 10, 12, 50, 55 or 57.
    int DownloadJournal(const QString& port, bool journalIdOn, bool countOnly,
                        const FilterSet& filters, bool overwrite);
    // On an open link: sets the filters of `filters` when any is set, else
    // resets all filters ("40R"); 0 only when the terminal confirmed them (it
    // answered the link check sent after them). Returns 0, 4 or 57.
    int SendFilters(IParlinkX2& link, const FilterSet* filters);
    // A session of its own around SendFilters. Returns 0-4 or 57.
    int ApplyFilters(const QString& port, const FilterSet& filters);
    // Returns 0-4.
    int ClearJournal(const QString& port);
    // Returns 0-4.
    int SetCurrentValues(const QString& port, const CurrentValues& values);

private:
    // Asks the terminal's program version unless it passed before: 0, 57
    // when it is older than 4.3.5, 4 when the link fails on the way.
    int CheckFirmware(IParlinkX2& link);
    // After the opening: sends the reset noted for `port`, if any. 0, or 4
    // when the terminal did not confirm it (the note stays).
    int SendPendingFilterReset(class CParlinkSession& session, const QString& port);
    // A quiet reset of the filters a failed download set; the note of `port`
    // goes once the terminal confirmed it.
    void ResetFiltersQuietly(IParlinkX2& link, const QString& port);
    void ForgetFilterReset(const QString& port);
};

// The terminal's program version "major.minor.build[.x]" is new enough for
// journal filters (4.3.5 or later).
bool FirmwareSupportsFilters(const QString& programVersion);
