// The terminal's main menu: the two lists of the menu editor and saving the menu.

#include "config/ConfigInternal.h"
#include "config/ConfigModel.h"
#include "config/MenuEditor.h"
#include "platform/LeadingInteger.h"

using namespace SQLite3;
using namespace ConfigInternal;
using ConfigSql::Format;

namespace {

// The order points not on the menu are offered in.
constexpr int kAvailableOrder[] = {1, 2, 3, 4, 5, 7, 8, 6, 9, 10};

}  // namespace

bool CConfigModel::FillMenuLists(QStandardItemModel& available, QStandardItemModel& menu) {
    available.removeRows(0, available.rowCount());
    menu.removeRows(0, menu.rowCount());
    try {
        CMenuEditor::AppendEntry(available, CMenuEditor::SeparatorText(), 0);
        for (int id : kAvailableOrder) {
            const CSQLiteTable t =
                Query(m_working, Format(u"SELECT name FROM m_mainmenu WHERE id = %i", {QString::number(id)}));
            if (t.RowCount > 0) continue;
            QString name;
            GetChoiceName(id, &name);
            CMenuEditor::AppendEntry(available, name, id);
        }
        const CSQLiteTable entries = Query(m_working, QStringLiteral("SELECT id, name FROM m_mainmenu"));
        for (const QStringList& row : entries.Rows) {
            const int id = LeadingInteger(row[0]);
            QString text;
            if (id != 0)
                GetChoiceName(id, &text);
            else
                text = CMenuEditor::SeparatorText();
            CMenuEditor::AppendEntry(menu, text, id);
        }
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}

bool CConfigModel::SaveMenu(const QStandardItemModel& menu) {
    try {
        // The whole menu or the one that was there: never half of each.
        CSQLiteTransaction batch(m_working);
        m_working.Exec(QStringLiteral("DELETE FROM m_mainmenu"));
        for (int r = 0; r < menu.rowCount(); ++r) {
            const QStandardItem* entry = menu.item(r);
            const int id = CMenuEditor::EntryId(entry);
            const QString name = entry ? entry->text() : QString();
            m_working.Exec(
                id == 8 ? Format(u"INSERT INTO m_mainmenu(id, name, target) VALUES(%i, '%s', 'm_configmenu')",
                                 {QString::number(id), name})
                        : Format(u"INSERT INTO m_mainmenu(id, name, target) VALUES(%i, '%s', '')",
                                 {QString::number(id), name}));
        }
        batch.Commit();
        m_modified = true;
        return true;
    } catch (const CSQLiteException& e) {
        e.Show(QString());
        return false;
    }
}
