#pragma once
// What the configuration model hands to the windows: the parameter tree and the
// parameter list as Qt item models, a few tiny view-facing interfaces (a text
// box, a combo box) and the description of the in-place editor that a click on
// a parameter row opens. Nothing here needs a widget, so every operation of the
// model runs and is tested without a display; a window only puts views on it.

#include <QItemSelectionModel>
#include <QMetaType>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QStandardItemModel>
#include <QString>
#include <QStringList>

#include <functional>

// The record kept for every item of the parameter tree (as item data).
struct ParamNodeInfo {
    QString nodeTable;        // node table whose row produced the item
    QString caption;          // shown under the tree when the item is selected
    QString listTable;        // list-parameter table of the page; empty: no parameters
    QString operationName;    // operation type name inside an operation type, else "NULL"
    QString operationTypeId;  // operation type identifier inside an operation type, else "NULL"
};
Q_DECLARE_METATYPE(ParamNodeInfo)

inline constexpr int kParamNodeInfoRole = Qt::UserRole + 1;
// The point id of a menu entry (item data of both menu lists).
inline constexpr int kMenuPointIdRole = Qt::UserRole + 2;

// The parameter tree: one column of items, each with its ParamNodeInfo, a
// selection model the tree view shares, and a hook for "give the tree the
// keyboard focus".
class CParamTree {
public:
    CParamTree();
    CParamTree(const CParamTree&) = delete;
    CParamTree& operator=(const CParamTree&) = delete;

    QStandardItemModel* Model() { return &m_model; }
    QItemSelectionModel* Selection() { return &m_selection; }
    QStandardItem* Root() { return m_model.invisibleRootItem(); }

    // The selected (current) item; nullptr when none.
    QStandardItem* SelectedItem() const;
    // Selects `item`; nullptr clears the selection.
    void Select(QStandardItem* item);
    void Clear();

    // The tree view connects this to setFocus(); counted for the tests.
    std::function<void()> onFocusRequest;
    void RequestFocus();
    int FocusRequests() const { return m_focusRequests; }

    // Depth-first, in display order (parents before their children).
    QList<QStandardItem*> AllItems() const;

    static bool Info(const QStandardItem* item, ParamNodeInfo* info);
    static void SetInfo(QStandardItem* item, const ParamNodeInfo& info);

private:
    QStandardItemModel m_model;
    QItemSelectionModel m_selection;
    int m_focusRequests = 0;
};

// A text shown in a static box (the node caption, the parameter help).
class ITextBox {
public:
    virtual ~ITextBox() = default;
    virtual void SetText(const QString& text) = 0;
};

class CTextBox : public ITextBox {
public:
    void SetText(const QString& text) override { m_text = text; }
    const QString& Text() const { return m_text; }

private:
    QString m_text;
};

// A drop-down list of texts with one selected index.
class IComboBox {
public:
    virtual ~IComboBox() = default;
    virtual void Clear() = 0;
    virtual void AddItem(const QString& text) = 0;
    virtual void SetCurrentIndex(int index) = 0;
};

class CComboItems : public IComboBox {
public:
    void Clear() override {
        items.clear();
        current = -1;
    }
    void AddItem(const QString& text) override { items << text; }
    void SetCurrentIndex(int index) override { current = index; }

    QStringList items;
    int current = -1;
};

// The in-place editor a click on a parameter row opens.
enum class ParamEditorKind {
    None,           // nothing opens
    Integer,        // one-row edit taking digits and "-" (edit kind 1)
    Text,           // one-row edit (edit kind 3)
    MultilineText,  // edit three rows high (edit kind 4)
    Combo,          // drop-down list of the source table's names
    PathButton,     // a "..." button at the right end of the cell
};

struct ParamEditRequest {
    int row = -1;
    QString name;        // label of the parameter
    QString paramId;
    QString type;        // "text", "integer", "multiline text", "path", "combobox"
    QString sourceData;  // combo source table
    QString helpText;
    QString value;       // the stored value (the edit's initial text)
    ParamEditorKind editor = ParamEditorKind::None;
    int editKind = 0;    // kind of the one/multi-row edit: 1, 3 or 4
    int controlId = 0;   // 101 edit, 102 button, 103 combo box
    CComboItems combo;   // the choices of a combo box and the selected one
};

// The row being edited: committed values go there. A list or tree that has
// gone away in the meantime is noticed, never written to.
struct ParamEditContext {
    CParamTree* tree = nullptr;
    QPointer<QStandardItemModel> list;
    int row = -1;
    QPersistentModelIndex item;
};

// Asks for a name in the input window ("Да" / "Отмена"): false on "Отмена".
using NameInput = std::function<bool(const QString& title, const QString& prompt, QString* name)>;
