#pragma once
// Where the component's parlink.ini files are, lowest first; a later file
// overrides an earlier one key by key, and a key set in none keeps its
// built-in default.
//
//  - Portable (the library lies in a program folder): parlink.ini beside the
//    library, the one file, as it always was.
//  - Installed (the library lies in <prefix>/lib/kxconfig/, a folder nobody
//    writes): the administrator's settings for every user,
//    /etc/kxconfig/parlink.ini (<prefix>/etc/kxconfig/ for a prefix other than
//    /usr, where `cmake --install` puts it), then the user's own
//    $XDG_CONFIG_HOME/kxconfig/parlink.ini (~/.config/kxconfig/parlink.ini).

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// `libraryFolder`: the folder of the component's library, ending with '/';
// empty when unknown (then there are no files and the defaults hold).
QStringList ParlinkSettingsFiles(const QString& libraryFolder, const QProcessEnvironment& environment);
