#pragma once
// "Загрузка конфигурационных файлов в терминал": pushes the open
// configuration to the terminal through the wait window and the updater, and
// says how it went. When it opens it warns about the first malformed line of
// the operations directory. Only the animation, the progress bar and
// "Загрузка" are shown; the port box, "Проверка" and "Закрыть" sit in a part
// of the window that stays folded away.

#include <QDialog>

#include <functional>

class CConfigModel;
class CLoadingConfigToTerminalDlg;
class CTransferAnimation;
class QComboBox;
class QProgressBar;
class QPushButton;
class QWidget;

class CLoadConfigToTerminalDlg : public QDialog {
    Q_OBJECT
public:
    // `port` empty: the "port" of kxloader.ini (default "COM1").
    CLoadConfigToTerminalDlg(CConfigModel& model, const QString& port, QWidget* parent = nullptr);

    QString Port() const;
    // Called with every wait window before it runs (tests point its flow at
    // another program folder).
    void SetWaitWindowSetup(std::function<void(CLoadingConfigToTerminalDlg&)> setup) {
        m_setup = std::move(setup);
    }

    // "Загрузка": the wait window's result (1, 2 or 103), after the outcome box.
    int Load();
    // "Проверка": ConnectTerminal's code (0-4), after the identity box on success.
    int Check();

protected:
    void showEvent(QShowEvent* event) override;

private:
    CConfigModel& m_model;
    std::function<void(CLoadingConfigToTerminalDlg&)> m_setup;
    CTransferAnimation* m_animation = nullptr;
    QProgressBar* m_progress = nullptr;
    QComboBox* m_port = nullptr;
    QWidget* m_foldedPart = nullptr;
    bool m_validated = false;
};
