#include "tests/ui/main/UiFixture.h"

#include "app/Settings.h"
#include "directories/DirectoryFiles.h"
#include "exchange/ConfigUpload.h"
#include "platform/ProfileFile.h"
#include "platform/ProgramFolder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>

void CUiFixture::SetUp() {
    m_previousFolder = ProgramFolder();
    programFolder = dir.File(QStringLiteral("bin")) + QLatin1Char('/');
    ASSERT_TRUE(QDir().mkpath(programFolder));
    const QString built = QStringLiteral(KX_PROGRAM_DIR "/");
    for (const char* name : {"KXConfigFMT.db", "kxupdate_pc", "libparlink.so"})
        ASSERT_TRUE(QFile::link(built + QLatin1String(name), programFolder + QLatin1String(name))) << name;
    ASSERT_TRUE(WriteFileBytes(programFolder + QStringLiteral("components.ini"),
                               "[KXC.ParlinkX2]\nlibrary=" + QFile::encodeName(built) + "libparlink.so\n"));
    SetProgramFolder(programFolder);
    SetWinIniPath(dir.File(QStringLiteral("win.ini")));

    ASSERT_TRUE(QDir().mkpath(dir.File(QStringLiteral("demo/files"))));
    project = dir.File(QStringLiteral("demo/demo.kxc"));
    ASSERT_TRUE(QFile::copy(built + QStringLiteral("demo/demo.kxc"), project));
    QFile::setPermissions(project, QFile::ReadOwner | QFile::WriteOwner);
    m_scope = std::make_unique<CScopedPrompt>(prompt);
}

void CUiFixture::TearDown() {
    m_scope.reset();
    SetProjectPath(QString());
    SetWinIniPath(QString());
    SetProgramFolder(m_previousFolder);
}

void CUiFixture::WriteLoaderSetting(const QString& key, const QString& value) const {
    Profile::WriteString(programFolder + QStringLiteral("kxloader.ini"), QString::fromLatin1(kSettingsSection), key,
                         value);
}

QString CUiFixture::LoaderSetting(const QString& key) const {
    return Profile::ReadString(programFolder + QStringLiteral("kxloader.ini"), QString::fromLatin1(kSettingsSection),
                               key);
}

void CUiFixture::WriteConfigSetting(const QString& key, const QString& value) const {
    Profile::WriteString(programFolder + QStringLiteral("kxconfig.ini"), QString::fromLatin1(kSettingsSection), key,
                         value);
}

QString CUiFixture::DirectoryFile(int kind) const {
    QString path;
    DirectoryPath(kind, &path);
    return path;
}

QByteArray CUiFixture::Lines(int count, int firstId) {
    QByteArray bytes;
    for (int id = firstId; id < firstId + count; ++id)
        bytes += Cp1251(QStringLiteral("%1;Запись %1;46%2\r\n").arg(id).arg(id, 11, 10, QLatin1Char('0')));
    return bytes;
}

bool DriveModal(const std::function<void()>& act, const std::function<void(QWidget*)>& drive, QWidget* except,
                int timeoutMs) {
    bool driven = false;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != except && modal->isVisible()) {
            poll.stop();
            driven = true;
            drive(modal);
        } else if (clock.elapsed() > timeoutMs) {
            poll.stop();
        }
    });
    poll.start();
    act();
    poll.stop();
    return driven;
}

CShowWatcher::CShowWatcher(const char* className, std::function<void(QWidget*)> shown)
    : m_className(className), m_shown(std::move(shown)) {
    qApp->installEventFilter(this);
}

CShowWatcher::~CShowWatcher() { qApp->removeEventFilter(this); }

bool CShowWatcher::eventFilter(QObject* object, QEvent* event) {
    if (event->type() == QEvent::Show && object->isWidgetType() && object->inherits(m_className))
        m_shown(static_cast<QWidget*>(object));
    return false;
}
