#pragma once
// The configurator window on a copy of the demo project, opened with open()
// so the test drives it from its own event loop, and helpers that act as a
// user would: click a page in the tree, click a value cell, answer a modal
// window that opens.

#include "tests/config/ConfigModelFixture.h"
#include "ui/config/KXConfigDlg.h"
#include "ui/editors/DoubleBufferListCtrl.h"
#include "ui/editors/DoubleBufferTreeCtrl.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

class Configurator : public ConfigModelFixture {
protected:
    void SetUp() override;
    void TearDown() override;

    void OpenWindow();
    CDoubleBufferTreeCtrl* TreeView() const;
    CDoubleBufferListCtrl* ListView() const;
    // A user clicks an active window. After a modal window closes the desktop
    // activates its parent again; the offscreen platform leaves that to us.
    [[nodiscard]] bool Reactivate();
    // Clicks the page at `path` ("Общие настройки/Сканер") and waits for its
    // list; false when there is no such page or its list did not come.
    [[nodiscard]] bool ClickPage(const QString& path);
    QModelIndex PageIndex(const QString& path) const;
    // Opens the window on the page at `path` (a fatal failure when either
    // does not come).
    void OpenWindowAt(const QString& path) {
        OpenWindow();
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(ClickPage(path)) << path.toStdString();
    }
    // Clicks a cell of the parameter list (column 1 by default) and lets the
    // click be handled.
    void ClickRow(int row, int column = 1);
    // Clicks the row and waits for its editor of type T; nullptr when none opened.
    template <class T>
    T* OpenEditor(int row) {
        if (!Reactivate()) return nullptr;
        ClickRow(row);
        if (!QTest::qWaitFor([&] { return qobject_cast<T*>(window->ParamEditor()) != nullptr; })) return nullptr;
        return qobject_cast<T*>(window->ParamEditor());
    }
    // Opens the window on the page at `path` and there the editor of type T
    // at `row`; nullptr when any of them did not come.
    template <class T>
    T* OpenWindowEditor(const QString& path, int row) {
        OpenWindowAt(path);
        if (HasFatalFailure()) return nullptr;
        return OpenEditor<T>(row);
    }
    // Clicks into the page caption box: the editor loses the focus.
    void ClickElsewhere();
    // True once the editor has closed.
    [[nodiscard]] bool EditorClosed();
    QString CellText(int row) const;
    QString Stored(const QString& operTypeId, const QString& place, const QString& param);
    void Trigger(const char* actionId);
    void Click(const char* buttonId);

    // Types `text` into `widget` key by key (QTest's own typing knows ASCII only).
    static void Type(QWidget* widget, const QString& text);

    // Runs `drive` on the modal window of type T that the next action opens.
    template <class T>
    static void WhenModal(std::function<void(T*)> drive, int attempts = 200) {
        QTimer::singleShot(attempts == 200 ? 0 : 10, [drive, attempts] {
            auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
            if (window && window->isActiveWindow()) {
                drive(window);
            } else if (attempts > 0) {
                WhenModal<T>(drive, attempts - 1);
            } else {
                ADD_FAILURE() << "no modal window of the expected type opened";
            }
        });
    }

    std::unique_ptr<CKXConfigDlg> window;
};
