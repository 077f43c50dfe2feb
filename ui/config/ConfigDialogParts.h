#pragma once
// What the configurator's dialogs share: their font and the button row of the
// small dialogs.

#include "ui/common/DialogUnits.h"

#include <QFont>

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
