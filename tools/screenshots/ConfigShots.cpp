// Pictures of the configurator for the user guide: a page with its values, an
// open drop-down editor, and the terminal-menu editor, all on the demo project.

#include "config/ConfigModel.h"
#include "directories/DirectoryFiles.h"
#include "tools/screenshots/Screenshots.h"
#include "ui/config/ConfigMenuDlg.h"
#include "ui/config/KXConfigDlg.h"
#include "ui/editors/ListChildCombo.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QPixmap>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QWindow>
#include <QTreeView>

#include <cstdio>

namespace {

// The demo project open in a model of its own, on a copy of the template (the
// configurator rebuilds one of its tables).
class CDemoConfiguration {
public:
    explicit CDemoConfiguration(const ScreenshotContext& context) {
        const QString templateCopy = context.work.filePath(QStringLiteral("KXConfigFMT.db"));
        const QString project = context.work.filePath(QStringLiteral("demo.kxc"));
        m_ok = QFile::copy(context.programFolder + QStringLiteral("/KXConfigFMT.db"), templateCopy) &&
               model.OpenTemplate(templateCopy) && model.Open(project);
        SetProjectPath(project);
    }
    ~CDemoConfiguration() {
        model.Close();
        SetProjectPath(QString());
    }
    bool Ok() const { return m_ok; }
    CConfigModel model;

private:
    bool m_ok = false;
};

const QFont kFont(QStringLiteral("Tahoma"), 10);

// Runs the event loop until `done` holds, at most five seconds.
template <class Predicate>
bool WaitUntil(Predicate done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 5000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

bool WaitShown(QWidget* window) {
    return WaitUntil([window] { return window->windowHandle() && window->windowHandle()->isExposed(); });
}

// A left click at `at`, as the mouse gives it.
void Click(QWidget* widget, const QPoint& at) {
    const QPointF local(at), global(widget->mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

QTreeView* Tree(QWidget* window) { return window->findChild<QTreeView*>(QStringLiteral("id1002")); }
QTreeView* List(QWidget* window) { return window->findChild<QTreeView*>(QStringLiteral("id1003")); }

// Clicks the page named `name` (a top-level item) and lets its list come.
bool ShowPage(CKXConfigDlg& window, const QString& name) {
    QTreeView* tree = Tree(&window);
    const QModelIndexList found =
        tree->model()->match(tree->model()->index(0, 0), Qt::DisplayRole, name, 1, Qt::MatchExactly);
    if (found.isEmpty()) return false;
    tree->expand(found.first());
    Click(tree->viewport(), tree->visualRect(found.first()).center());
    return WaitUntil([&] { return List(&window)->model()->rowCount() > 0; });
}

bool OpenWindow(CKXConfigDlg& window) {
    window.open();
    return WaitShown(&window);
}

}  // namespace

KX_SCREENSHOT(configurator) {
    CDemoConfiguration demo(context);
    if (!demo.Ok()) return false;
    CKXConfigDlg window(demo.model, kFont);
    if (!OpenWindow(window) || !ShowPage(window, QStringLiteral("Общие настройки"))) return false;
    Tree(&window)->expandAll();
    // The help text of a parameter shows once its editor is open.
    QTreeView* list = List(&window);
    Click(list->viewport(), list->visualRect(list->model()->index(0, 1)).center());
    WaitUntil([&] { return window.ParamEditor() != nullptr; });
    return context.Save(&window, QStringLiteral("configurator"));
}

KX_SCREENSHOT(configurator_dropdown) {
    CDemoConfiguration demo(context);
    if (!demo.Ok()) return false;
    CKXConfigDlg window(demo.model, kFont);
    if (!OpenWindow(window) || !ShowPage(window, QStringLiteral("Приемка (1)"))) return false;
    QTreeView* list = List(&window);
    Click(list->viewport(), list->visualRect(list->model()->index(2, 1)).center());
    if (!WaitUntil([&] { return qobject_cast<CListChildCombo*>(window.ParamEditor()) != nullptr; }))
        return false;
    auto* combo = static_cast<CListChildCombo*>(window.ParamEditor());
    combo->showPopup();
    QWidget* popup = combo->view()->window();
    if (!WaitShown(popup)) return false;
    // Under the cell, as the desktop shows it; the offscreen screen is smaller
    // than the window and would push the list aside.
    popup->move(combo->mapToGlobal(QPoint(0, combo->height())));
    QCoreApplication::processEvents();
    // The drop-down is a window of its own: draw it over the window's picture.
    QPixmap picture = window.grab();
    QPainter painter(&picture);
    painter.drawPixmap(popup->mapToGlobal(QPoint()) - window.mapToGlobal(QPoint()), popup->grab());
    painter.end();
    const QString path = context.output.filePath(QStringLiteral("configurator-dropdown.png"));
    const bool saved = picture.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(path));
    combo->hidePopup();
    return saved;
}

KX_SCREENSHOT(menu_editor) {
    CDemoConfiguration demo(context);
    if (!demo.Ok()) return false;
    CConfigMenuDlg editor(demo.model, kFont);
    editor.Editor().SelectMenu(1);
    editor.show();
    if (!WaitShown(&editor)) return false;
    return context.Save(&editor, QStringLiteral("menu-editor"));
}
