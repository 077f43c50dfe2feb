#pragma once
// The configurator window as the main window's "Редактор" opens it.

class CConfigModel;
class QFont;
class QWidget;

void RunConfiguratorWindow(CConfigModel& model, const QFont& font, QWidget* parent);
