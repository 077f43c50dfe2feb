#include "ui/exchange/WorkerDlg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>

void ExchangeProgressState::Bar::Restart(int count) {
    range = std::max(count, 0);
    value = 0;
}

void ExchangeProgressState::Bar::Step() {
    if (value < range) ++value;
}

void CWorkerProgress::SetItemRange(int count) {
    Update([count](ExchangeProgressState& s) { s.item.Restart(count); });
}
void CWorkerProgress::StepItem() {
    Update([](ExchangeProgressState& s) { s.item.Step(); });
}
void CWorkerProgress::SetStageRange(int count) {
    Update([count](ExchangeProgressState& s) { s.stage.Restart(count); });
}
void CWorkerProgress::StepStage() {
    Update([](ExchangeProgressState& s) { s.stage.Step(); });
}
void CWorkerProgress::SetStageText(const QString& text) {
    Update([&text](ExchangeProgressState& s) { s.stageText = text; });
}

void CWorkerProgress::Begin(const QString&, qint64 total) {
    Update([total](ExchangeProgressState& s) {
        s.transferring = true;
        s.transferTotal = std::max<qint64>(total, 0);
        s.transferDone = 0;
    });
}
void CWorkerProgress::Advance(qint64 done) {
    Update([done](ExchangeProgressState& s) { s.transferDone = done; });
}
void CWorkerProgress::Finish() {
    Update([](ExchangeProgressState& s) { s.transferring = false; });
}

bool CWorkerProgress::TakeChanged(ExchangeProgressState* state) {
    std::lock_guard guard(m_lock);
    if (!m_changed) return false;
    *state = m_state;
    m_changed = false;
    return true;
}

CWorkerDlg::CWorkerDlg(QWidget* parent, const QString& objectName, const QString& title)
    : QDialog(parent), m_layout(new QVBoxLayout(this)) {
    setObjectName(objectName);
    setWindowTitle(title);
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

void CWorkerDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_shown) return;
    m_shown = true;
    OnFirstShown();
}

void CWorkerDlg::closeEvent(QCloseEvent* event) {
    if (m_working) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
