// The About box, dialog 100.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// The frame's icon, resource 128.
class QIcon;
QIcon VeldmarkIcon();
