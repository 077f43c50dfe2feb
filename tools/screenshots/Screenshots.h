#pragma once
// A picture for the user guide is a function that opens a window (on the
// demo copy in `context.work`), brings it into the state to show and saves
// it with Save(). Pictures register themselves with KX_SCREENSHOT.

#include <QDir>
#include <QString>

#include <functional>

class QWidget;

struct ScreenshotContext {
    QDir output;      // where the PNG files go (docs/images)
    QDir work;        // a fresh copy of the demo project: demo.kxc and files/
    QString programFolder;  // the built program folder (template, component)
    // Grabs `widget` (and what is drawn over it) into output/<name>.png.
    bool Save(QWidget* widget, const QString& name) const;
};

using ScreenshotFunction = std::function<bool(const ScreenshotContext&)>;

// Registers a picture; returns a dummy value so that it can run at start-up.
int RegisterScreenshot(const char* name, ScreenshotFunction function);

#define KX_SCREENSHOT_CONCAT2(a, b) a##b
#define KX_SCREENSHOT_CONCAT(a, b) KX_SCREENSHOT_CONCAT2(a, b)
#define KX_SCREENSHOT(name)                                                              \
    static bool KX_SCREENSHOT_CONCAT(Shot_, name)(const ScreenshotContext&);            \
    static const int KX_SCREENSHOT_CONCAT(ShotReg_, name) =                              \
        RegisterScreenshot(#name, KX_SCREENSHOT_CONCAT(Shot_, name));                    \
    static bool KX_SCREENSHOT_CONCAT(Shot_, name)(const ScreenshotContext& context)
