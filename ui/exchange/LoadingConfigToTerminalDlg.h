#pragma once
// The wait window of the configuration upload: "Подождите идет загрузка...".
// 100 ms after it is shown it builds the terminal database and hands it to
// the updater (CConfigUploadFlow) on a worker thread, so it keeps repainting
// while the updater runs, and ends with the flow's result: 1 loaded,
// 2 the updater failed or could not be started, 103 the database could not
// be built.

#include "exchange/ConfigUpload.h"
#include "ui/exchange/WorkerDlg.h"

#include <memory>

class CConfigModel;

class CLoadingConfigToTerminalDlg : public CWorkerDlg {
    Q_OBJECT
public:
    // An empty `port` is the "port" setting (ExchangePort).
    CLoadingConfigToTerminalDlg(CConfigModel& model, const QString& port, int startOperationId = -1,
                                QWidget* parent = nullptr);

    // The flow the window runs (its program folder and settings file can be
    // pointed elsewhere before the window is shown).
    CConfigUploadFlow& Flow() { return *m_flow; }

protected:
    void OnFirstShown() override;

private:
    // Shared with the work, which may outlive the window.
    std::shared_ptr<CConfigUploadFlow> m_flow;
};
