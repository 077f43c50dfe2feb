#pragma once
// Small pieces the exchange windows share: the port they talk on, their
// progress bars, and a short exchange run without freezing the window.

#include <QString>

#include <functional>

class QProgressBar;
class QPushButton;
class QWidget;

// `port`, or when it is empty the "port" of kxloader.ini in the program
// folder (default "COM1").
QString PortOrSetting(const QString& port);
// Writes the port into kxloader.ini for the exchange that follows.
void RememberPort(const QString& port);

// A progress bar without text, named `objectName`, empty.
QProgressBar* MakeProgressBar(QWidget* parent, const QString& objectName);
// 0..n (n kept within the 16-bit range the windows always had), position 0.
void ResetBar(QProgressBar* bar, int n);
// One step, stopping at the end of the range.
void StepBar(QProgressBar* bar);
// The "Отмена" button of a window that cannot be cancelled: shown, disabled.
QPushButton* MakeDisabledCancel(QWidget* parent);

// Runs `work` (a short exchange such as the terminal check) on a worker
// thread while `window` stays drawn but takes no input, and returns its
// result. Messages the work shows go through the prompt, which raises them
// on the user-interface thread.
int RunResponsive(QWidget* window, const std::function<int()>& work);
