#pragma once
// Sizes of the configurator's windows in dialog units, the font-relative unit
// their layouts were drawn in: a horizontal unit is a quarter of the font's
// average character width, a vertical unit an eighth of its height. Layouts
// built with these sizes keep their proportions on any font and screen.
// Also the font and the button row the configurator's dialogs share.

#include <QFont>
#include <QSize>

class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);

    int X(int units) const { return (units * m_baseX + 2) / 4; }
    int Y(int units) const { return (units * m_baseY + 4) / 8; }
    QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

private:
    int m_baseX = 0;
    int m_baseY = 0;
};

class QDialog;
class QHBoxLayout;
class QPushButton;

// The right-aligned "Да" (default, id 1) and "Отмена" (id 2) buttons of a
// small dialog; "Отмена" rejects, "Да" is for the caller to connect.
QHBoxLayout* YesCancelButtons(QDialog* dialog, const CDialogUnits& units, QPushButton** yes);

// The configurator's font: the given one when the desktop has its family
// ("Tahoma" on a Windows desktop), otherwise the desktop's own sans font at
// the given size, so the windows never fall back to an arbitrary family.
QFont ConfiguratorFont(const QFont& requested);
