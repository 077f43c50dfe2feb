#pragma once
// The menu editor window's logic ("Настройка меню терминала"): the list of
// points not on the menu ("Доступные пункты:"), the terminal's menu ("Меню
// терминала:"), the moves between them, and the rename window of points 1..5
// ("Редактирование"). The window puts list views on the two item models and
// their selection models and calls these operations from its buttons.
// Nothing is written until "Сохранить" (or the rename flow, which saves first).

#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QString>

#include <array>
#include <functional>

class CConfigModel;

class CMenuEditor {
public:
    explicit CMenuEditor(CConfigModel& model);
    CMenuEditor(const CMenuEditor&) = delete;
    CMenuEditor& operator=(const CMenuEditor&) = delete;

    // "-----------------": a separator entry (point id 0).
    static QString SeparatorText();
    static void AppendEntry(QStandardItemModel& list, const QString& text, int id);
    static int EntryId(const QStandardItem* entry);

    QStandardItemModel* Available() { return &m_available; }
    QStandardItemModel* Menu() { return &m_menu; }
    QItemSelectionModel* AvailableSelection() { return &m_availableSelection; }
    QItemSelectionModel* MenuSelection() { return &m_menuSelection; }

    // Fills both lists from the working copy (the window's opening).
    bool Load();

    void SelectAvailable(int row);  // -1: none
    void SelectMenu(int row);       // -1: none
    int SelectedAvailable() const;
    int SelectedMenu() const;

    void AddSelected();
    void AddAll();
    void RemoveSelected();
    void RemoveAll();
    void MoveUp();
    void MoveDown();
    bool Changed() const { return m_changed; }

    // "Сохранить": saves when something was moved. The window then closes with OK.
    bool SaveAndClose();

    // "Редакт.": asks to confirm the menu, saves it, runs the rename window
    // (`runRename` returns true when it ended with OK), then shows the new names
    // and saves the menu again so that m_mainmenu carries them. False when the
    // user cancelled or the menu could not be saved (then nothing is renamed).
    bool Rename(const std::function<bool()>& runRename);

private:
    CConfigModel& m_model;
    QStandardItemModel m_available;
    QStandardItemModel m_menu;
    QItemSelectionModel m_availableSelection;
    QItemSelectionModel m_menuSelection;
    bool m_changed = false;
};

// The rename window of the first five menu points.
class CMenuAliases {
public:
    static constexpr int kCount = 5;
    explicit CMenuAliases(CConfigModel& model);

    // The labels of the five edit boxes: "Операции:" ... "Товары:".
    static QString Label(int index);
    // On opening: the current names of points 1..5.
    void Load();
    std::array<QString, kCount> names;
    // "Да": stores the five names, points 1 to 5 in order.
    bool Apply();

private:
    CConfigModel& m_model;
};
