#pragma once
// Qt's own texts (the standard buttons "Да"/"Нет"/"Отмена", the file
// dialogs, the edit fields' context menus) in the user's language, from the
// translations the distribution ships with Qt (Debian: qt6-translations-l10n).
// The program's own texts are Russian whatever the language; so where the
// user's language is English or not set (the "C" locale), Qt speaks Russian
// too rather than English inside a Russian window.

class QTranslator;

// Installs the translator on the application (it owns it); nullptr when no
// translation could be loaded (the package is missing): Qt then stays English.
QTranslator* InstallQtTranslations();
