// The light page: light style, colours, position, range and attenuation.
#pragma once

#include <QWidget>

class CTerrainLightControl : public QWidget {
    Q_OBJECT
public:
    explicit CTerrainLightControl(QWidget* parent = nullptr);
    ~CTerrainLightControl() override;
};
