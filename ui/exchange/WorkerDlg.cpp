#include "ui/exchange/WorkerDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

void CWorkerProgress::SetItemRange(int count) {
    std::lock_guard guard(m_lock);
    m_state.itemRange = std::max(count, 0);
    m_state.itemValue = 0;
    m_changed = true;
}

void CWorkerProgress::StepItem() {
    std::lock_guard guard(m_lock);
    if (m_state.itemValue < m_state.itemRange) ++m_state.itemValue;
    m_changed = true;
}

void CWorkerProgress::SetStageRange(int count) {
    std::lock_guard guard(m_lock);
    m_state.stageRange = std::max(count, 0);
    m_state.stageValue = 0;
    m_changed = true;
}

void CWorkerProgress::StepStage() {
    std::lock_guard guard(m_lock);
    if (m_state.stageValue < m_state.stageRange) ++m_state.stageValue;
    m_changed = true;
}

void CWorkerProgress::SetStageText(const QString& text) {
    std::lock_guard guard(m_lock);
    m_state.stageText = text;
    m_changed = true;
}

void CWorkerProgress::Begin(const QString&, qint64 total) {
    std::lock_guard guard(m_lock);
    m_state.transferring = true;
    m_state.transferTotal = std::max<qint64>(total, 0);
    m_state.transferDone = 0;
    m_changed = true;
}

void CWorkerProgress::Advance(qint64 done) {
    std::lock_guard guard(m_lock);
    m_state.transferDone = done;
    m_changed = true;
}

void CWorkerProgress::Finish() {
    std::lock_guard guard(m_lock);
    m_state.transferring = false;
    m_changed = true;
}

bool CWorkerProgress::TakeChanged(ExchangeProgressState* state) {
    std::lock_guard guard(m_lock);
    if (!m_changed) return false;
    *state = m_state;
    m_changed = false;
    return true;
}

CWorkerDlg::CWorkerDlg(QWidget* parent) : QDialog(parent) {
    m_poll.setInterval(kProgressIntervalMs);
    connect(&m_poll, &QTimer::timeout, this, &CWorkerDlg::PollProgress);
}

CWorkerDlg::~CWorkerDlg() {
    // Only reached with a running worker when the window is destroyed without
    // having been run to its end: let the worker finish (a question it asks
    // still needs the event loop) without touching the half-destroyed window.
    m_closing = true;
    m_poll.stop();
    while (m_working) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (m_thread.joinable()) m_thread.join();
}

void CWorkerDlg::StartWork(std::function<int(CWorkerProgress&)> work) {
    if (m_working) return;
    if (m_thread.joinable()) m_thread.join();
    m_working = true;
    m_poll.start();
    m_thread = std::thread([this, work = std::move(work)] {
        const int result = work(m_progress);
        QMetaObject::invokeMethod(this, [this, result] { Finish(result); }, Qt::QueuedConnection);
    });
}

void CWorkerDlg::PollProgress() {
    ExchangeProgressState state;
    if (!m_closing && m_progress.TakeChanged(&state)) ShowProgress(state);
}

void CWorkerDlg::Finish(int result) {
    if (m_thread.joinable()) m_thread.join();
    m_poll.stop();
    m_working = false;
    if (m_closing) return;
    PollProgress();
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
