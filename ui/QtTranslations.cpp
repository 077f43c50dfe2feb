#include "ui/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

bool LoadFor(QTranslator& translator, const QLocale& locale, const QString& folder) {
    return translator.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder);
}

}  // namespace

QTranslator* InstallQtTranslations() {
    if (!QCoreApplication::instance()) return nullptr;
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(QCoreApplication::instance());
    const QLocale user;
    const bool english = user.language() == QLocale::English || user.language() == QLocale::C;
    if ((!english && LoadFor(*translator, user, folder)) ||
        LoadFor(*translator, QLocale(QLocale::Russian, QLocale::Russia), folder)) {
        QCoreApplication::installTranslator(translator);
        return translator;
    }
    delete translator;
    return nullptr;
}
