#pragma once
// Progress of a running exchange, as the notifications 1025-1029 of the
// progress windows. The exchange calls them on its own thread, once or twice
// per record, so an implementation must be cheap and must never wait for a
// window: the windows keep the state these calls leave behind and redraw from
// it at their own pace (ui/exchange/WorkerDlg.h).

#include <QString>

class IExchangeProgress {
public:
    virtual ~IExchangeProgress() = default;
    virtual void SetItemRange(int count) = 0;        // 1025: upper bar 0..count, position 0
    virtual void StepItem() = 0;                     // 1026: upper bar one step
    virtual void SetStageRange(int count) = 0;       // 1027: lower bar 0..count, position 0
    virtual void StepStage() = 0;                    // 1028: lower bar one step
    virtual void SetStageText(const QString& text) = 0;  // 1029: stage text
};

// The numbers of the notifications, for adapters that keep them.
namespace ProgressMessage {
inline constexpr int kSetItemRange = 1025;
inline constexpr int kStepItem = 1026;
inline constexpr int kSetStageRange = 1027;
inline constexpr int kStepStage = 1028;
inline constexpr int kSetStageText = 1029;
}  // namespace ProgressMessage

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
