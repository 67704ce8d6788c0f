// The light page: light style, colours, position, range and attenuation.
#pragma once

#include <QWidget>

class CTerrainLightControl : public QWidget {
    Q_OBJECT
public:
    explicit CTerrainLightControl(QWidget* parent = nullptr);
    ~CTerrainLightControl() override;

    void OnPointLight();
    void OnDirectionalLight();
    void OnLightOff();
    // Back to the default light, with every trackbar moved to it.
    void OnReset();

private:
    void OnInitDialog();
    void OnLightStyle(int type);
    void OnColourDraw(int trackbar, int position);
    void OnPositionDraw(int trackbar, int position);
    void OnRangeDraw(int position);
    void OnAttenuationDraw(int position);
    // Moves every trackbar to the renderer's light and shows the colour values.
    void MoveTrackbarsToLight();
};
