#pragma once
// The input window: a title, a picture, a prompt and one edit field, with
// "Да" (the default button) and "Отмена". "Да" hands back the text exactly as
// typed, the empty text included; "Отмена", Escape and the close box hand
// back nothing.

#include <QDialog>

class QLineEdit;

class CStdInputDlg : public QDialog {
    Q_OBJECT
public:
    CStdInputDlg(const QString& title, const QString& prompt, const QString& text, const QFont& font,
                 QWidget* parent = nullptr);

    QString Text() const;

    // Runs the window modally; true with `text` set when the user pressed "Да".
    static bool Ask(QWidget* parent, const QFont& font, const QString& title, const QString& prompt,
                    QString* text);

private:
    QLineEdit* m_edit = nullptr;
};
