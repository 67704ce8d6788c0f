#include "CAboutDlg.h"

#include "resource.h"

#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

QIcon VeldmarkIcon() {
    // The icon lives in the editor's static library, whose resources the linker keeps only
    // when something registers them.
    static const QIcon icon = [] {
        Q_INIT_RESOURCE(veldmark);
        return QIcon(QStringLiteral(":/res/veldmark.png"));
    }();
    return icon;
}

namespace {

// Dialog units to pixels with the dialog font's base units, as Windows converts them.
struct DialogUnits {
    explicit DialogUnits(const QFont& font) {
        QFontMetrics metrics(font);
        const QString alphabet =
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        baseX = (metrics.horizontalAdvance(alphabet) / 26 + 1) / 2;
        baseY = metrics.height();
    }
    int X(int dlu) const { return dlu * baseX / 4; }
    int Y(int dlu) const { return dlu * baseY / 8; }
    QRect Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }
    int baseX, baseY;
};

} // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("IDD_ABOUTBOX"));
    setProperty("controlId", IDD_ABOUTBOX);
    setWindowTitle(QStringLiteral("Veldmark 정보"));
    QFont font = this->font();
    font.setPointSize(9);
    setFont(font);
    DialogUnits du(font);
    setFixedSize(du.X(170), du.Y(62));

    auto* icon = new QLabel(this);
    icon->setPixmap(VeldmarkIcon().pixmap(32, 32));
    icon->setGeometry(du.X(14), du.Y(14), 32, 32);

    auto* name = new QLabel(QStringLiteral("Veldmark, 버전 1.1"), this);
    name->setGeometry(du.Rect(42, 14, 114, 8));
    auto* line2 = new QLabel(QStringLiteral("높이맵 지형 편집기"), this);
    line2->setGeometry(du.Rect(42, 26, 114, 8));

    auto* ok = new QPushButton(QStringLiteral("확인"), this);
    ok->setProperty("controlId", 1); // IDOK
    ok->setDefault(true);
    ok->setGeometry(du.Rect(113, 41, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
