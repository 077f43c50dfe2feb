#include "ui/exchange/WorkerDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

class CWorkerDlg::CForwarder : public IExchangeProgress {
public:
    explicit CForwarder(CWorkerDlg& window) : m_window(window) {}
    void SetItemRange(int count) override { m_window.Forward([&] { m_window.OnItemRange(count); }); }
    void StepItem() override { m_window.Forward([&] { m_window.OnStepItem(); }); }
    void SetStageRange(int count) override { m_window.Forward([&] { m_window.OnStageRange(count); }); }
    void StepStage() override { m_window.Forward([&] { m_window.OnStepStage(); }); }
    void SetStageText(const QString& text) override {
        m_window.Forward([&] { m_window.OnStageText(text); });
    }

private:
    CWorkerDlg& m_window;
};

CWorkerDlg::CWorkerDlg(QWidget* parent) : QDialog(parent) {}

CWorkerDlg::~CWorkerDlg() {
    // Only reached with a running worker when the window is destroyed without
    // having been run to its end: let the worker finish, answering its
    // progress calls without touching the half-destroyed window.
    m_closing = true;
    while (m_working) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (m_thread.joinable()) m_thread.join();
}

void CWorkerDlg::StartWork(std::function<int(IExchangeProgress&)> work) {
    if (m_working) return;
    if (m_thread.joinable()) m_thread.join();
    m_working = true;
    m_thread = std::thread([this, work = std::move(work)] {
        CForwarder progress(*this);
        const int result = work(progress);
        QMetaObject::invokeMethod(this, [this, result] { Finish(result); }, Qt::QueuedConnection);
    });
}

void CWorkerDlg::Forward(const std::function<void()>& apply) {
    const auto guarded = [this, &apply] {
        if (!m_closing) apply();
    };
    if (QThread::currentThread() == thread()) guarded();
    else QMetaObject::invokeMethod(this, guarded, Qt::BlockingQueuedConnection);
}

void CWorkerDlg::Finish(int result) {
    if (m_thread.joinable()) m_thread.join();
    m_working = false;
    if (m_closing) return;
    OnWorkFinished(result);
    done(result);
}

void CWorkerDlg::reject() {
    if (!m_working) QDialog::reject();
}

void CWorkerDlg::closeEvent(QCloseEvent* event) {
    if (m_working) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
