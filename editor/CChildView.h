// The frame's leftover child window: created empty, draws nothing, holds the focus the
// frame passes on.
#pragma once

#include <QFrame>

class CChildView : public QFrame {
    Q_OBJECT
public:
    explicit CChildView(QWidget* parent = nullptr);

    // Commands offered to the child first; it handles none.
    bool OnCmdMsg(int) { return false; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
