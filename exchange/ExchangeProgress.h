#pragma once
// Progress of a running exchange as a progress window shows it: an upper bar
// for the records of the current step, a lower bar for the steps, and the
// stage text. The exchange calls them on its own thread, once or twice per
// record, so an implementation must be cheap and must never wait for a
// window: the windows keep the state these calls leave behind and redraw from
// it at their own pace (ui/exchange/WorkerDlg.h).

#include <QString>

class IExchangeProgress {
public:
    virtual ~IExchangeProgress() = default;
    virtual void SetItemRange(int count) = 0;            // the upper bar runs 0..count, now at 0
    virtual void StepItem() = 0;                         // the upper bar moves one step
    virtual void SetStageRange(int count) = 0;           // the lower bar runs 0..count, now at 0
    virtual void StepStage() = 0;                        // the lower bar moves one step
    virtual void SetStageText(const QString& text) = 0;  // the text above the bars
};

// Progress of a long transfer counted in records, for a console that shows
// records done of the total, the rate and the time left (the command line on
// a terminal). Unlike the window notifications it is independent of the
// show-messages flag: it never asks anything of a person.
class ITransferProgress {
public:
    virtual ~ITransferProgress() = default;
    // A transfer starts: `total` records are expected (0 when not known).
    virtual void Begin(const QString& what, qint64 total) = 0;
    // `done` records have gone (or arrived) so far.
    virtual void Advance(qint64 done) = 0;
    // The transfer ended, well or not.
    virtual void Finish() = 0;
};
