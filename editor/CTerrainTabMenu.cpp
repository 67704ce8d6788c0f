#include "CTerrainTabMenu.h"

#include "CMainFrame.h"
#include "CTerrainLightControl.h"
#include "CTerrainMainView.h"
#include "CTerrainMapControl.h"
#include "CTerrainTextureControl.h"
#include "DialogTemplate.h"

#include <QScrollBar>
#include <QTabBar>

KrTerrain* ViewTerrain() {
    CMainFrame* frame = GetMainFrame();
    if (!frame || !frame->mainView)
        return nullptr;
    return frame->mainView->terrain;
}

CTerrainTabMenu::CTerrainTabMenu(QWidget* parent) : QScrollArea(parent) {
    form = new QWidget;
    BuildDialog(res::kDialogTabMenu, form);
    templateSize_ = form->size();
    tabControl = DlgItem<QTabBar>(form, res::IDC_TAB);
    setWidget(form);
    setWidgetResizable(false);
    OnInitialUpdate();
}

CTerrainTabMenu::~CTerrainTabMenu() = default; // the pages are children of the form

QWidget* CTerrainTabMenu::Page(int index) const {
    switch (index) {
    case 0:
        return mapPage;
    case 1:
        return texturePage;
    case 2:
        return lightPage;
    default:
        return nullptr;
    }
}

int CTerrainTabMenu::WidthToShowForm(int height) const {
    const int frame = 2 * frameWidth();
    int width = form->width() + frame;
    if (form->height() > height - frame)
        width += verticalScrollBar()->sizeHint().width();
    return width;
}

void CTerrainTabMenu::OnInitialUpdate() {
    while (tabControl->count() > 0)
        tabControl->removeTab(0);
    tabControl->insertTab(0, QStringLiteral("지형"));
    tabControl->insertTab(1, QStringLiteral("텍스쳐"));
    tabControl->insertTab(2, QStringLiteral("조명"));
    tabControl->setCurrentIndex(0);

    mapPage = new CTerrainMapControl(form);
    texturePage = new CTerrainTextureControl(form);
    lightPage = new CTerrainLightControl(form);
    for (int i = 0; i < 3; ++i) {
        QWidget* page = Page(i);
        page->move(5, 25);
        page->setVisible(i == 0);
    }
    shownTab_ = 0;
    FitForm();

    connect(tabControl, &QTabBar::currentChanged, this, [this](int index) {
        OnSelChanging();
        OnSelChange(index);
    });
}

void CTerrainTabMenu::OnSelChanging() {
    if (QWidget* page = Page(shownTab_))
        page->hide();
}

void CTerrainTabMenu::OnSelChange(int index) {
    if (KrTerrain* terrain = ViewTerrain())
        terrain->activeTool = index;
    shownTab_ = index;
    if (QWidget* page = Page(index))
        page->show();
    FitForm();
}

void CTerrainTabMenu::FitForm() {
    QRect bounds(QPoint(0, 0), templateSize_);
    if (QWidget* page = Page(shownTab_))
        bounds = bounds.united(page->geometry());
    form->setFixedSize(bounds.size());
}
