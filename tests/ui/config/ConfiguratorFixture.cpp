#include "tests/ui/config/ConfiguratorFixture.h"

#include "directories/DirectoryFiles.h"
#include "platform/ProgramFolder.h"
#include "storage/SQLite3.h"
#include "ui/editors/DoubleBufferListCtrl.h"
#include "ui/editors/DoubleBufferTreeCtrl.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

namespace {

const QString kBin = QStringLiteral(KX_PROGRAM_DIR);

}  // namespace

void Configurator::SetUp() {
    ConfigModelFixture::SetUp();
    // The window rebuilds a table of the template: it works on its own copy.
    ASSERT_TRUE(QFile::copy(kBin + QStringLiteral("/KXConfigFMT.db"), templatePath));
    QDir().mkpath(dir.File(QStringLiteral("project/files")));
    projectPath = dir.File(QStringLiteral("project/demo.kxc"));
    ASSERT_TRUE(QFile::copy(kBin + QStringLiteral("/demo/demo.kxc"), projectPath));
    const QDir files(kBin + QStringLiteral("/demo/files"));
    for (const QString& name : files.entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(files.filePath(name), dir.File(QStringLiteral("project/files/") + name)));
    ASSERT_TRUE(model.OpenTemplate(templatePath));
    ASSERT_TRUE(model.Open(projectPath));
    SetProjectPath(projectPath);
}

void Configurator::TearDown() {
    window.reset();
    ConfigModelFixture::TearDown();
}

void Configurator::OpenWindow() {
    window = std::make_unique<CKXConfigDlg>(model, QFont(QStringLiteral("Tahoma"), 10));
    window->open();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
}

bool Configurator::Reactivate() {
    if (!window->isActiveWindow()) window->activateWindow();
    return QTest::qWaitForWindowActive(window.get());
}

CDoubleBufferTreeCtrl* Configurator::TreeView() const {
    return window->findChild<CDoubleBufferTreeCtrl*>(QStringLiteral("id1002"));
}

CDoubleBufferListCtrl* Configurator::ListView() const {
    return window->findChild<CDoubleBufferListCtrl*>(QStringLiteral("id1003"));
}

QModelIndex Configurator::PageIndex(const QString& path) const {
    const QAbstractItemModel* tree = TreeView()->model();
    QModelIndex parent;
    for (const QString& name : path.split(QLatin1Char('/'))) {
        const QModelIndexList found =
            tree->match(tree->index(0, 0, parent), Qt::DisplayRole, name, 1, Qt::MatchExactly);
        if (found.isEmpty()) return {};
        parent = found.first();
    }
    return parent;
}

bool Configurator::ClickPage(const QString& path) {
    const QModelIndex page = PageIndex(path);
    if (!page.isValid()) return false;
    TreeView()->scrollTo(page);  // expands its parents
    QSignalSpy shown(ListView()->model(), &QAbstractItemModel::rowsInserted);
    QTest::mouseClick(TreeView()->viewport(), Qt::LeftButton, {}, TreeView()->visualRect(page).center());
    return TreeView()->currentIndex() == page && (shown.count() > 0 || shown.wait(5000));
}

void Configurator::ClickRow(int row, int column) {
    const QRect cell = ListView()->visualRect(ListView()->model()->index(row, column));
    QTest::mouseClick(ListView()->viewport(), Qt::LeftButton, {}, cell.center());
    QCoreApplication::processEvents();
}

void Configurator::ClickElsewhere() {
    auto* caption = window->findChild<QPlainTextEdit*>(QStringLiteral("id1000"));
    QTest::mouseClick(caption->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
}

bool Configurator::EditorClosed() {
    return QTest::qWaitFor([&] { return window->ParamEditor() == nullptr; });
}

QString Configurator::CellText(int row) const {
    return ListView()->model()->index(row, 1).data().toString();
}

QString Configurator::Stored(const QString& operTypeId, const QString& place, const QString& param) {
    SQLite3::CSQLiteTable table;
    SQLite3::CSQLiteStatement(model.Working(),
                              QStringLiteral("SELECT value FROM ParamsValue WHERE OperTypeID = '%1' AND place_id = '%2' "
                                             "AND param_id = '%3'")
                                  .arg(operTypeId, place, param))
        .StepAll(&table);
    return table.RowCount > 0 ? table.Rows[0][0] : QStringLiteral("<none>");
}

void Configurator::Trigger(const char* actionId) {
    auto* action = window->findChild<QAction*>(QLatin1String(actionId));
    ASSERT_NE(action, nullptr) << actionId;
    action->trigger();
}

void Configurator::Click(const char* buttonId) {
    auto* button = window->findChild<QAbstractButton*>(QLatin1String(buttonId));
    ASSERT_NE(button, nullptr) << buttonId;
    QTest::mouseClick(button, Qt::LeftButton);
}

void Configurator::Type(QWidget* widget, const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 128)
            QTest::keyClick(widget, char(c.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
}
