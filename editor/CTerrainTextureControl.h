// The texture page: the loaded textures, the base texture, the splatting layers and the
// paint settings.
#pragma once

#include <QWidget>

class CTerrainTextureControl : public QWidget {
    Q_OBJECT
public:
    explicit CTerrainTextureControl(QWidget* parent = nullptr);
    ~CTerrainTextureControl() override;

    // Adds a loaded texture's display name to the page's lists.
    void AddTextureName(const QString& name);
};
