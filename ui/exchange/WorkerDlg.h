#pragma once
// A modal progress window whose exchange runs on a worker thread, so that the
// window (and the rest of the desktop) keeps repainting while the terminal is
// slow. The exchange reports its progress into a shared state and never waits
// for the window: the window takes a copy of that state a few dozen times a
// second and redraws from it, however many records a second the exchange
// reports. The worker's return value ends the window. Escape and the close
// box do nothing while the worker runs: the exchange may still ask the user
// something through the prompt, over this window.

#include "exchange/ExchangeProgress.h"

#include <QDialog>
#include <QTimer>
#include <QVBoxLayout>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

// Where an exchange stands: what its progress calls (IExchangeProgress) have
// made of the two bars and the stage text, and the records of a transfer counted against
// its total (ITransferProgress).
struct ExchangeProgressState {
    struct Bar {
        int range = 0;
        int value = 0;
        void Restart(int count);
        void Step();
    };
    Bar item;
    Bar stage;
    QString stageText;
    bool transferring = false;  // between ITransferProgress::Begin and Finish
    qint64 transferTotal = 0;
    qint64 transferDone = 0;
};

// The progress target an exchange is given: both progress interfaces, each
// call a short update of the state under a lock.
class CWorkerProgress : public IExchangeProgress, public ITransferProgress {
public:
    void SetItemRange(int count) override;
    void StepItem() override;
    void SetStageRange(int count) override;
    void StepStage() override;
    void SetStageText(const QString& text) override;
    void Begin(const QString& what, qint64 total) override;
    void Advance(qint64 done) override;
    void Finish() override;

    // A copy of the state when it changed since the last call.
    bool TakeChanged(ExchangeProgressState* state);

private:
    // Every progress call is one change of the state under the lock.
    template <class Change>
    void Update(Change change) {
        std::lock_guard guard(m_lock);
        change(m_state);
        m_changed = true;
    }

    std::mutex m_lock;
    ExchangeProgressState m_state;
    bool m_changed = false;
};

class CWorkerDlg : public QDialog {
    Q_OBJECT
public:
    // How often at most the window redraws its progress.
    static constexpr int kProgressIntervalMs = 40;

    ~CWorkerDlg() override;

    bool IsWorking() const { return m_working; }
    void reject() override;

protected:
    // The window named `objectName` with the caption `title` and a column
    // layout for the derived window's controls.
    CWorkerDlg(QWidget* parent, const QString& objectName, const QString& title);

    QVBoxLayout* Layout() const { return m_layout; }

    // Once, when the window is first shown: where the derived window starts its work.
    virtual void OnFirstShown() = 0;

    // Starts `work` on a new thread; its result ends the window (done(result)).
    // The work must hold copies of what it needs, not the window: a window
    // destroyed before the work has ended waits for it in this base's
    // destructor, when the derived window's members are already gone.
    void StartWork(std::function<int(CWorkerProgress&)> work);

    // The progress as it stands, on the user-interface thread, at most every
    // kProgressIntervalMs and once more when the work has ended.
    virtual void ShowProgress(const ExchangeProgressState&) {}
    // Just before the window ends with the worker's result.
    virtual void OnWorkFinished(int) {}

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void PollProgress();
    void Finish(int result);

    QVBoxLayout* m_layout;
    bool m_shown = false;
    CWorkerProgress m_progress;
    QTimer m_poll;
    std::thread m_thread;
    std::atomic<bool> m_working{false};
    std::atomic<bool> m_closing{false};
};
