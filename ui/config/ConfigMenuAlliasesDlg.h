#pragma once
// "Редактирование": renames the first five points of the terminal menu
// ("Операции:" ... "Товары:"). A box taking the focus, by a click or by Tab,
// selects all its text so a new name simply replaces the old one. "Да"
// stores the five names, "Отмена" nothing.

#include "config/MenuEditor.h"

#include <QDialog>

#include <array>

class CConfigModel;
class QLineEdit;

class CConfigMenuAlliasesDlg : public QDialog {
    Q_OBJECT
public:
    CConfigMenuAlliasesDlg(CConfigModel& model, const QFont& font, QWidget* parent = nullptr);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnYes();

    CMenuAliases m_aliases;
    std::array<QLineEdit*, CMenuAliases::kCount> m_boxes{};
};
