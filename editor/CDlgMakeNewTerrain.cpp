#include "CDlgMakeNewTerrain.h"

#include "CMainFrame.h"
#include "CPrompts.h"
#include "CTerrainMainView.h"
#include "DialogTemplate.h"
#include "KrTerrain.h"

#include <QAbstractButton>
#include <QLineEdit>

#include <climits>

using namespace res;

CDlgMakeNewTerrain::CDlgMakeNewTerrain(QWidget* parent) : QDialog(parent) {
    BuildDialog(kDialogNewTerrain, this);
    setModal(true);
    connect(DlgItem<QAbstractButton>(this, IDOK), &QAbstractButton::clicked, this,
            &CDlgMakeNewTerrain::OnOK);
    connect(DlgItem<QAbstractButton>(this, IDCANCEL), &QAbstractButton::clicked, this,
            &QDialog::reject);
}

CDlgMakeNewTerrain::~CDlgMakeNewTerrain() = default;

int CDlgMakeNewTerrain::DoModal() {
    for (int id : {IDC_NEW_WIDTH, IDC_NEW_DEPTH, IDC_NEW_SPACING})
        SetDlgItemText(this, id, QString());
    GetDlgItem(this, IDC_NEW_WIDTH)->setFocus();
    // Without a parent window the dialog would open wherever the window system puts it.
    if (CMainFrame* frame = GetMainFrame(); frame && !parentWidget())
        move(frame->geometry().center() - rect().center());
    return exec();
}

QString CDlgMakeNewTerrain::CheckTerrainSize(int width, int depth, int cellSpacing) {
    // The terrain's own rule decides, so what passes here is always made.
    if (IsValidTerrainSize(width, depth, static_cast<float>(cellSpacing)))
        return QString();
    QStringList problems;
    const auto side = [&](const char* name, int value) {
        if (value < 2 || value > kMaxTerrainSide)
            problems << QStringLiteral("%1은(는) 2에서 %2 사이여야 합니다 (입력: %3).")
                            .arg(QString::fromUtf8(name))
                            .arg(kMaxTerrainSide)
                            .arg(value);
    };
    side("Width(가로)", width);
    side("Depth(세로)", depth);
    if (cellSpacing < 1)
        problems << QStringLiteral("CellSpacing(간격)은 1 이상이어야 합니다 (입력: %1).")
                        .arg(cellSpacing);
    else if (problems.isEmpty())
        // The world size is kept in 32-bit integers.
        problems << QStringLiteral("CellSpacing(간격) %1은(는) 너무 커서 지형의 크기가 "
                                   "범위를 넘습니다 (가로나 세로 × 간격이 %2 미만이어야 합니다).")
                        .arg(cellSpacing)
                        .arg(QString::number(qint64(INT_MAX) + 1));
    return QStringLiteral("이 값으로는 지형을 만들 수 없습니다. 현재 지형은 그대로 "
                          "남습니다.\n\n") +
           problems.join(u'\n');
}

void CDlgMakeNewTerrain::OnOK() {
    const int width = WToI(GetDlgItemText(this, IDC_NEW_WIDTH));
    const int depth = WToI(GetDlgItemText(this, IDC_NEW_DEPTH));
    const int cellSpacing = WToI(GetDlgItemText(this, IDC_NEW_SPACING));

    // Refused before anything is destroyed, and the dialog stays open for correction.
    const QString problem = CheckTerrainSize(width, depth, cellSpacing);
    if (!problem.isEmpty()) {
        Prompts().Message(this, windowTitle(), problem);
        int bad = IDC_NEW_SPACING;
        if (width < 2 || width > kMaxTerrainSide)
            bad = IDC_NEW_WIDTH;
        else if (depth < 2 || depth > kMaxTerrainSide)
            bad = IDC_NEW_DEPTH;
        if (auto* edit = DlgItem<QLineEdit>(this, bad)) {
            edit->setFocus();
            edit->selectAll();
        }
        return;
    }

    CMainFrame* frame = GetMainFrame();
    if (!frame || !frame->mainView)
        return;
    std::string error;
    if (!frame->mainView->NewTerrain(width, depth, cellSpacing, &error)) {
        // Cancelled while it was being made: the dialog stays, for other values or cancel.
        if (error.empty())
            return;
        // The view keeps its terrain when the device cannot make the new one.
        Prompts().Message(
            this, windowTitle(),
            QStringLiteral("지형을 만들지 못했습니다. 현재 지형은 그대로 남습니다.\n\n") +
                QString::fromUtf8(error.c_str()));
        return;
    }
    accept();
}
