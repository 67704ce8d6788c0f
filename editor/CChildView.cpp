#include "CChildView.h"

#include "resource.h"

#include <QPainter>

CChildView::CChildView(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("AFX_IDW_PANE_LAST"));
    setProperty("controlId", AFX_IDW_PANE_LAST);
    // A sunken client edge instead of a plain border.
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setCursor(Qt::ArrowCursor);
    setBackgroundRole(QPalette::Base);
    setFocusPolicy(Qt::StrongFocus);
}

void CChildView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
}
