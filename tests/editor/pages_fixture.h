// The started editor on the memory device, with the tab menu wide enough to show whole
// pages, and helpers that work the pages' controls the way the user does.
#pragma once

#include "CTerrainLightControl.h"
#include "CTerrainMapControl.h"
#include "CTerrainTextureControl.h"
#include "DialogTemplate.h"
#include "editor_fixture.h"
#include "memory_device.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QSplitter>
#include <QTabBar>

class PagesTest : public EditorTest {
protected:
    void SetUp() override {
        savedUseGl_ = CTerrainMainView::useGl;
        CTerrainMainView::useGl = false; // the memory device records the light calls
        EditorTest::SetUp();
        if (HasFatalFailure())
            return;
        tabs = frame->tabMenu;
        ASSERT_NE(tabs, nullptr);
        frame->resize(1400, 1000);
        frame->splitter->setSizes({700, 700});
        QTest::qWait(50);
    }
    void TearDown() override {
        EditorTest::TearDown();
        CTerrainMainView::useGl = savedUseGl_;
    }

    KrTerrain* Terrain() const { return view->terrain; }
    MemoryDevice* Device() const {
        return dynamic_cast<MemoryDevice*>(KrRenderer::GetInstance()->device);
    }

    void SelectTab(int index) {
        QTest::mouseClick(tabs->tabControl, Qt::LeftButton, {},
                          tabs->tabControl->tabRect(index).center());
        QTest::qWait(20);
        ASSERT_EQ(tabs->tabControl->currentIndex(), index);
    }

    template <class T> T* Item(QWidget* page, int id) {
        T* item = DlgItem<T>(page, id);
        EXPECT_NE(item, nullptr) << "control " << id;
        return item;
    }

    void Click(QWidget* page, int id) {
        QAbstractButton* button = Item<QAbstractButton>(page, id);
        tabs->ensureWidgetVisible(button);
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
    }

    // Moves a trackbar as a drag does, then lets it repaint, which is when the page
    // copies the position out.
    void SetTrackbar(QWidget* page, int id, int position) {
        CTrackBar* trackbar = Item<CTrackBar>(page, id);
        tabs->ensureWidgetVisible(trackbar);
        trackbar->setSliderDown(true);
        trackbar->setSliderPosition(position);
        trackbar->setSliderDown(false);
        Repaint(trackbar);
    }
    void Repaint(QWidget* widget) {
        widget->repaint();
        QApplication::processEvents();
    }

    QString Text(QWidget* page, int id) { return GetDlgItemText(page, id); }

    CTerrainTabMenu* tabs = nullptr;

private:
    bool savedUseGl_ = true;
};
