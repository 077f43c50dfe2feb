#pragma once
// "Сопряжение с терминалом": pairs this computer with a terminal on the
// network (port tcp:HOST:PORT) by the one-time code the terminal shows. The
// pairing runs off the UI thread; the dialog shows its outcome.

#include "app/LinkPairing.h"

#include <QDialog>

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

class CPairTerminalDlg : public QDialog {
    Q_OBJECT
public:
    using PairFunction = std::function<CPairOutcome(const QString& port, const QString& code)>;

    // `pair`: how to pair (the program's own PairTerminal unless a caller
    // gives another).
    explicit CPairTerminalDlg(const QString& port, QWidget* parent = nullptr, PairFunction pair = PairTerminal);
    bool Paired() const { return m_paired; }

private:
    void OnPair();
    void Finished(const CPairOutcome& result);
    void ShowResult(const QString& text);

    QString m_port;
    PairFunction m_pair;
    QLineEdit* m_code = nullptr;
    QLabel* m_result = nullptr;
    QPushButton* m_pairButton = nullptr;
    bool m_busy = false;
    bool m_paired = false;
};
