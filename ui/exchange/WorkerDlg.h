#pragma once
// A modal progress window whose exchange runs on a worker thread, so that the
// window (and the rest of the desktop) keeps repainting while the terminal is
// slow. The exchange reports progress synchronously: each call waits until
// the window has applied it on the user-interface thread (a text it passes
// stays valid for the whole call). The worker's return value ends the window.
// Escape and the close box do nothing while the worker runs: the exchange
// uses the window until it has finished.

#include "exchange/ExchangeProgress.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <thread>

class CWorkerDlg : public QDialog {
    Q_OBJECT
public:
    ~CWorkerDlg() override;

    bool IsWorking() const { return m_working; }
    void reject() override;

protected:
    explicit CWorkerDlg(QWidget* parent);

    // Starts `work` on a new thread with a progress target that forwards to
    // the On* functions below; its result ends the window (done(result)).
    void StartWork(std::function<int(IExchangeProgress&)> work);

    // Progress applied on the user-interface thread.
    virtual void OnItemRange(int) {}
    virtual void OnStepItem() {}
    virtual void OnStageRange(int) {}
    virtual void OnStepStage() {}
    virtual void OnStageText(const QString&) {}
    // Just before the window ends with the worker's result.
    virtual void OnWorkFinished(int) {}

    void closeEvent(QCloseEvent* event) override;

private:
    class CForwarder;
    void Forward(const std::function<void()>& apply);
    void Finish(int result);

    std::thread m_thread;
    std::atomic<bool> m_working{false};
    std::atomic<bool> m_closing{false};
};
