// The modal dialog in which the user enters the width, depth and cell spacing of a new
// terrain; OK replaces the 3D view's terrain with a flat one of that size.
#pragma once

#include <QDialog>

class CDlgMakeNewTerrain : public QDialog {
    Q_OBJECT
public:
    explicit CDlgMakeNewTerrain(QWidget* parent = nullptr);
    ~CDlgMakeNewTerrain() override;

    // Runs the dialog with empty boxes; QDialog::Accepted once a terrain was made.
    int DoModal();
    // Makes the terrain and closes, or explains what is wrong and stays open.
    void OnOK();

    // Why these values cannot make a terrain; empty when they can.
    static QString CheckTerrainSize(int width, int depth, int cellSpacing);
};
