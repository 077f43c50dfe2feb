#include "config/MenuEditor.h"

#include "config/ConfigModel.h"
#include "config/ViewModels.h"
#include "platform/Prompt.h"

CMenuEditor::CMenuEditor(CConfigModel& model)
    : m_model(model), m_availableSelection(&m_available), m_menuSelection(&m_menu) {}

QString CMenuEditor::SeparatorText() { return QStringLiteral("-----------------"); }

void CMenuEditor::AppendEntry(QStandardItemModel& list, const QString& text, int id) {
    auto* entry = new QStandardItem(text);
    entry->setEditable(false);
    entry->setData(id, kMenuPointIdRole);
    list.appendRow(entry);
}

int CMenuEditor::EntryId(const QStandardItem* entry) {
    return entry ? entry->data(kMenuPointIdRole).toInt() : 0;
}

bool CMenuEditor::Load() {
    m_availableSelection.clear();
    m_menuSelection.clear();
    return m_model.FillMenuLists(m_available, m_menu);
}

static void SelectRow(QItemSelectionModel& selection, QStandardItemModel& list, int row) {
    if (row < 0 || row >= list.rowCount()) {
        selection.clear();
        return;
    }
    selection.setCurrentIndex(list.index(row, 0), QItemSelectionModel::ClearAndSelect);
}

static int SelectedRow(const QItemSelectionModel& selection) {
    const QModelIndex current = selection.currentIndex();
    return current.isValid() && selection.isSelected(current) ? current.row() : -1;
}

void CMenuEditor::SelectAvailable(int row) { SelectRow(m_availableSelection, m_available, row); }
void CMenuEditor::SelectMenu(int row) { SelectRow(m_menuSelection, m_menu, row); }
int CMenuEditor::SelectedAvailable() const { return SelectedRow(m_availableSelection); }
int CMenuEditor::SelectedMenu() const { return SelectedRow(m_menuSelection); }

// Moves the entry at `row` of `from` to the end of `to`. The offered list
// keeps its one separator: it stays on offer when added to the menu, so it
// can be added again, and is not offered twice when taken off the menu.
static void MoveEntry(QStandardItemModel& from, int row, QStandardItemModel& to, const QStandardItemModel& offered) {
    const QStandardItem* entry = from.item(row);
    const int id = CMenuEditor::EntryId(entry);
    const bool separator = id == 0;
    if (!separator || &to != &offered) CMenuEditor::AppendEntry(to, entry->text(), id);
    if (!separator || &from != &offered) from.removeRow(row);
}

void CMenuEditor::AddSelected() {
    m_changed = true;
    if (const int row = SelectedAvailable(); row >= 0) MoveEntry(m_available, row, m_menu, m_available);
}

void CMenuEditor::AddAll() {
    m_changed = true;
    while (m_available.rowCount() > 0) {
        const QStandardItem* entry = m_available.item(0);
        AppendEntry(m_menu, entry->text(), EntryId(entry));
        m_available.removeRow(0);
    }
    AppendEntry(m_available, SeparatorText(), 0);
}

void CMenuEditor::RemoveSelected() {
    m_changed = true;
    if (const int row = SelectedMenu(); row >= 0) MoveEntry(m_menu, row, m_available, m_available);
}

void CMenuEditor::RemoveAll() {
    m_changed = true;
    for (int r = 0; r < m_menu.rowCount(); ++r) {
        const QStandardItem* entry = m_menu.item(r);
        if (EntryId(entry) != 0) AppendEntry(m_available, entry->text(), EntryId(entry));
    }
    m_menu.removeRows(0, m_menu.rowCount());
    m_menuSelection.clear();
}

static void SwapEntries(QStandardItemModel& list, int a, int b) {
    QStandardItem* first = list.item(a);
    QStandardItem* second = list.item(b);
    const QString text = first->text();
    const int id = CMenuEditor::EntryId(first);
    first->setText(second->text());
    first->setData(CMenuEditor::EntryId(second), kMenuPointIdRole);
    second->setText(text);
    second->setData(id, kMenuPointIdRole);
}

void CMenuEditor::MoveUp() {
    m_changed = true;
    const int row = SelectedMenu();
    if (row <= 0) return;
    SwapEntries(m_menu, row - 1, row);
    SelectMenu(row - 1);
}

void CMenuEditor::MoveDown() {
    m_changed = true;
    const int row = SelectedMenu();
    if (row < 0 || row + 1 >= m_menu.rowCount()) return;
    SwapEntries(m_menu, row, row + 1);
    SelectMenu(row + 1);
}

bool CMenuEditor::SaveAndClose() {
    if (!m_changed) return true;
    return m_model.SaveMenu(m_menu);
}

bool CMenuEditor::Rename(const std::function<bool()>& runRename) {
    if (Prompt().Message(QStringLiteral("Для редактирования имен нужно подтвердить составленное меню.\nСохранить "
                                        "новое меню?"),
                         QStringLiteral("Внимание!"), PromptIcon::Question, PromptButtons::OkCancel) != AnswerOk)
        return false;
    // A menu that could not be saved stays in the lists as the user made it;
    // renaming would reload them from the table and lose it.
    if (!m_model.SaveMenu(m_menu)) return false;
    if (runRename && runRename()) {
        m_model.FillMenuLists(m_available, m_menu);
        m_model.SaveMenu(m_menu);
    }
    return true;
}

// ------------------------------------------------------------- rename window

CMenuAliases::CMenuAliases(CConfigModel& model) : m_model(model) {}

QString CMenuAliases::Label(int index) {
    static const char16_t* const kLabels[kCount] = {u"Операции:", u"Исполнители:", u"Адреса:", u"Документы:",
                                                    u"Товары:"};
    return index >= 0 && index < kCount ? QString::fromUtf16(kLabels[index]) : QString();
}

void CMenuAliases::Load() {
    for (int i = 0; i < kCount; ++i) {
        names[i].clear();
        m_model.GetChoiceName(i + 1, &names[i]);
    }
}

bool CMenuAliases::Apply() {
    bool ok = true;
    for (int i = 0; i < kCount; ++i) ok = m_model.SetChoiceName(i + 1, names[i]) && ok;
    return ok;
}
