#pragma once
// The short wait of "Проверка": "Проверка связи с терминалом..." with a busy
// bar, in front of the window that asked, while the terminal is asked for its
// identity on a worker thread. The window that asked takes no input meanwhile
// (this one is modal) yet keeps drawing; this window ends with the check's
// result code, after any message the check showed.

#include "ui/exchange/WorkerDlg.h"

#include <functional>

class CCheckTerminalDlg : public CWorkerDlg {
    Q_OBJECT
public:
    CCheckTerminalDlg(std::function<int()> check, QWidget* parent = nullptr);

protected:
    void OnFirstShown() override;

private:
    std::function<int()> m_check;
};
