#pragma once
// What the window tests share: a program folder of their own (the template,
// the link component and the updater of the build, and settings files the
// test writes), a copy of the demo project with an empty files folder, the
// prompt recorder, and helpers to drive modal windows and wait for them.

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class CUiFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // kxloader.ini / kxconfig.ini of the test's program folder.
    void WriteLoaderSetting(const QString& key, const QString& value) const;
    QString LoaderSetting(const QString& key) const;
    void WriteConfigSetting(const QString& key, const QString& value) const;
    // Makes the demo copy the remembered project of the next main window.
    void RememberProject() const { WriteLoaderSetting(QStringLiteral("config"), project); }
    // The project's directory file of a kind (after SetProjectPath).
    QString DirectoryFile(int kind) const;
    // `count` lines "<n>;Запись <n>;<barcode>" in Windows-1251 with CR LF.
    static QByteArray Lines(int count, int firstId = 1);

    CTestDir dir;
    QString programFolder;  // ends with '/'
    QString project;        // <dir>/demo/demo.kxc
    CRecordingPrompt prompt;

private:
    QString m_previousFolder;
    std::unique_ptr<CScopedPrompt> m_scope;
};

// Calls `shown` with every window of class T as it is being shown, before
// its own show handling runs (so before a progress window starts its work),
// for as long as the object lives.
class CShowWatcher : public QObject {
public:
    CShowWatcher(const char* className, std::function<void(QWidget*)> shown);
    ~CShowWatcher() override;

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    const char* m_className;
    std::function<void(QWidget*)> m_shown;
};
template <typename T>
std::unique_ptr<CShowWatcher> OnShow(std::function<void(T*)> shown) {
    return std::make_unique<CShowWatcher>(T::staticMetaObject.className(),
                                          [shown](QWidget* w) { shown(static_cast<T*>(w)); });
}

// Runs `act` (which opens a modal window) and, once a modal window other
// than `except` is active, `drive` on it. False when no such window came.
bool DriveModal(const std::function<void()>& act, const std::function<void(QWidget*)>& drive,
                QWidget* except = nullptr, int timeoutMs = 20000);
// The same for a modal window of type T; a window of another type fails the test.
template <typename T>
bool DriveModalOf(const std::function<void()>& act, const std::function<void(T*)>& drive, QWidget* except = nullptr) {
    return DriveModal(
        act,
        [&drive](QWidget* modal) {
            auto* typed = qobject_cast<T*>(modal);
            ASSERT_NE(typed, nullptr) << "a " << modal->metaObject()->className() << " opened instead";
            drive(typed);
        },
        except);
}
