#pragma once
// The journal of the terminal: download or count it, set or reset its filters,
// clear it, and set the terminal's current operation, executor, address and
// document.

#include "exchange/ExchangeProgress.h"
#include "exchange/ParlinkComponent.h"

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
    bool firmwareChecked = false;  // the terminal's program is known to be new enough

    // Downloads the journal into the DirectoryFiles journal path (replacing it
    // when `overwrite`, else appending), or with `countOnly` writes only the
    // announced line count there. Returns 0, 1-4, 10, 12, 50, 55 or 57.
    int DownloadJournal(const QString& port, bool journalIdOn, bool countOnly,
                        const FilterSet& filters, bool overwrite);
    // On an open link: sets the filters of `filters` when any is set, else
    // resets all filters ("40R"). Returns 0, 4 or 57.
    int SendFilters(IParlinkX2& link, const FilterSet* filters);
    // A session of its own around SendFilters. Returns 0-4 or 57.
    int ApplyFilters(const QString& port, const FilterSet& filters);
    // Returns 0-4.
    int ClearJournal(const QString& port);
    // Returns 0-4.
    int SetCurrentValues(const QString& port, const CurrentValues& values);
};

// The terminal's program version "major.minor.build[.x]" is new enough for
// journal filters (4.3.5 or later).
bool FirmwareSupportsFilters(const QString& programVersion);
