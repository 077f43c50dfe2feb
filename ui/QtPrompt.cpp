#include "ui/QtPrompt.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>
#include <QUrl>

namespace {

template <typename F>
auto OnUiThread(F f) -> decltype(f()) {
    if (!qApp || QThread::currentThread() == qApp->thread()) return f();
    decltype(f()) result{};
    QMetaObject::invokeMethod(qApp, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

bool Owns(const QWidget* owner, const QWidget* window) {
    for (const QWidget* w = window->parentWidget(); w; w = w->parentWidget())
        if (w == owner) return true;
    return false;
}

// The program's window in front: of the windows shown, one that no other
// shown window was opened from.
QWidget* FrontWindow() {
    QWidget* front = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        const Qt::WindowType type = w->windowType();
        if (!w->isVisible() || (type != Qt::Window && type != Qt::Dialog)) continue;
        if (!front || Owns(front, w)) front = w;
    }
    return front;
}

// Boxes and file dialogs stand over the window that raised them: centred on
// it, never behind it. While a box that just closed hands the activation
// back no window is active for a moment; the window in front stands in.
QWidget* DialogParent() {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    return FrontWindow();
}

// A box asks for a click: the ordinary cursor over it, even while the work
// that raised it shows the wait cursor.
class CPointerCursor {
public:
    CPointerCursor() : m_over(QGuiApplication::overrideCursor() != nullptr) {
        if (m_over) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~CPointerCursor() {
        if (m_over) QGuiApplication::restoreOverrideCursor();
    }
    CPointerCursor(const CPointerCursor&) = delete;
    CPointerCursor& operator=(const CPointerCursor&) = delete;

private:
    bool m_over;
};

QMessageBox::Icon ToQtIcon(PromptIcon icon) {
    switch (icon) {
    case PromptIcon::Information: return QMessageBox::Information;
    case PromptIcon::Warning: return QMessageBox::Warning;
    case PromptIcon::Error: return QMessageBox::Critical;
    case PromptIcon::Question: return QMessageBox::Question;
    case PromptIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQtButtons(PromptButtons buttons) {
    switch (buttons) {
    case PromptButtons::Ok: return QMessageBox::Ok;
    case PromptButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case PromptButtons::YesNo:
    case PromptButtons::YesNoDefaultNo: return QMessageBox::Yes | QMessageBox::No;
    case PromptButtons::YesNoCancel:
    case PromptButtons::YesNoCancelDefaultCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

int FromQtButton(int button) {
    switch (button) {
    case QMessageBox::Ok: return AnswerOk;
    case QMessageBox::Yes: return AnswerYes;
    case QMessageBox::No: return AnswerNo;
    default: return AnswerCancel;
    }
}

}  // namespace

QString ToQtFilter(const QString& filter) {
    if (!filter.contains(QLatin1Char('|'))) return filter;
    const QStringList parts = filter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList entries;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i];
        if (!name.contains(QLatin1Char('('))) name += QStringLiteral(" (%1)").arg(parts[i + 1]);
        entries << name;
    }
    return entries.join(QLatin1String(";;"));
}

int CQtPrompt::Message(const QString& text, const QString& caption, PromptIcon icon,
                       PromptButtons buttons) {
    return OnUiThread([&] {
        const CPointerCursor pointer;
        QMessageBox box(ToQtIcon(icon), caption, text, ToQtButtons(buttons), DialogParent());
        if (buttons == PromptButtons::YesNoDefaultNo) box.setDefaultButton(QMessageBox::No);
        if (buttons == PromptButtons::YesNoCancelDefaultCancel) box.setDefaultButton(QMessageBox::Cancel);
        return FromQtButton(box.exec());
    });
}

QString CQtPrompt::OpenFileName(const FileDialogRequest& request) {
    return OnUiThread([&] {
        const CPointerCursor pointer;
        return QFileDialog::getOpenFileName(DialogParent(), request.title, request.initialName,
                                            ToQtFilter(request.filter));
    });
}

QString CQtPrompt::SaveFileName(const FileDialogRequest& request) {
    return OnUiThread([&] {
        const CPointerCursor pointer;
        QFileDialog dialog(DialogParent(), request.title, request.initialName, ToQtFilter(request.filter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(request.defaultExt);
        if (!request.overwritePrompt) dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        return dialog.selectedFiles().first();
    });
}

void CQtPrompt::OpenInViewer(const QString& path) {
    const bool shown = OnUiThread([&] { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });
    // The file is written either way; without a viewer the user must at
    // least learn where it is.
    if (!shown)
        Message(QStringLiteral("Не удалось открыть файл: на компьютере не найдена программа для просмотра "
                               "текстовых файлов.\nФайл сохранен:\n%1")
                    .arg(QDir::toNativeSeparators(path)),
                QStringLiteral("Внимание"), PromptIcon::Information, PromptButtons::Ok);
}
