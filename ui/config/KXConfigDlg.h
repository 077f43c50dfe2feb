#pragma once
// The configurator window: the tree of operation types and parameter pages on
// the left, the parameters of the selected page on the right (edited in place),
// the operation-type buttons, and the menu with saving, the terminal-menu
// editor and the about box. It holds no configuration data of its own:
// everything goes through the configuration model it is given.
//
// The main window opens it as
//     CKXConfigDlg dialog(model, font, parent);  dialog.exec();
// exec() returns kResultClosed when the user leaves, or kResultNoLibrary
// (without showing the window) when the database library is not available.

#include "config/ViewModels.h"

#include <QDialog>
#include <QFont>
#include <QPointer>

class CConfigModel;
class CDoubleBufferListCtrl;
class CDoubleBufferTreeCtrl;
class QAbstractButton;
class QMenuBar;
class QPlainTextEdit;

class CKXConfigDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResultClosed = 2;
    static constexpr int kResultNoLibrary = 3;

    CKXConfigDlg(CConfigModel& model, const QFont& font, QWidget* parent = nullptr);
    ~CKXConfigDlg() override;

    int exec() override;
    void open() override;
    // Escape: the same as "Закрыть".
    void reject() override;

    // The in-place editor open over the parameter list, nullptr when none.
    QWidget* ParamEditor() const { return m_editor; }
    const QFont& WindowFont() const { return m_font; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildMenu(QMenuBar* bar);
    // The opening steps after the controls exist; false when the window must
    // not open (no database library).
    bool Initialise();
    void Leave();

    // The selected page goes to the list after the selection change has been
    // handled, and the editor opens after the click has been handled.
    void PostShowSelectedPage();
    void ShowSelectedPage();
    void PostEditRow(int row);
    void EditRow(int row);
    // Ends the open editor as losing the focus does: a changed text is stored.
    void FinishParamEdit();
    QString ChoosePath(const ParamEditRequest& request);

    bool AskName(const QString& title, const QString& prompt, QString* name);
    void OnAddOperationType();
    void OnCopyOperationType();
    void OnDeleteOperationType();
    void OnMoveUp();
    void OnMoveDown();
    void OnLoadPageDefaults();
    void OnSave();
    void OnSaveAs();
    void OnTerminalMenu();
    void OnAbout();

    CConfigModel& m_model;
    const QFont m_font;
    CParamTree m_tree;
    QStandardItemModel m_list;
    CDoubleBufferTreeCtrl* m_treeView = nullptr;
    CDoubleBufferListCtrl* m_listView = nullptr;
    QPlainTextEdit* m_caption = nullptr;
    QPlainTextEdit* m_help = nullptr;
    QPointer<QWidget> m_editor;
    bool m_initialised = false;
    bool m_opened = false;
    bool m_showPending = false;
};
