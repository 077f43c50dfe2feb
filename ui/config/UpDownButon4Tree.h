#pragma once
// The "вверх" / "вниз" buttons under the operation-type tree. A mouse click
// leaves the keyboard focus where it was (the tree keeps its focused
// selection while the user moves a type several places); Tab still reaches
// the button for keyboard use.

#include <QToolButton>

class CUpDownButon4Tree : public QToolButton {
    Q_OBJECT
public:
    explicit CUpDownButon4Tree(QWidget* parent = nullptr) : QToolButton(parent) {
        setFocusPolicy(Qt::TabFocus);
    }
};
