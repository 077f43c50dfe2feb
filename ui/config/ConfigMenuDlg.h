#pragma once
// The terminal-menu editor, "Настройка меню терминала": the points not on the
// menu ("Доступные пункты:") on the left, the terminal's menu ("Меню
// терминала:") on the right, arrow buttons to move entries between and within
// them, "Редакт." to rename the first five points, "Сохранить" (writes only
// when something was moved) and "Отмена". The logic is CMenuEditor's; this
// window only shows it.

#include "config/MenuEditor.h"

#include <QDialog>
#include <QFont>

class CConfigModel;
class QListView;

class CConfigMenuDlg : public QDialog {
    Q_OBJECT
public:
    CConfigMenuDlg(CConfigModel& model, const QFont& font, QWidget* parent = nullptr);

    CMenuEditor& Editor() { return m_editor; }

private:
    void OnRename();
    void OnSave();

    CConfigModel& m_model;
    const QFont m_font;
    CMenuEditor m_editor;
    QListView* m_availableView = nullptr;
    QListView* m_menuView = nullptr;
};
