// The 3D view: owns the terrain and the pick record, drives the camera from the keyboard
// and mouse, and runs the save, load and texture commands.
#pragma once

#include "KrCamera.h"
#include "KrTerrain.h"
#include "win32.h"

#include <QPoint>
#include <QWidget>

#include <set>
#include <string>
#include <vector>

class CGlViewWindow;
class QWindow;

// The view is also the platform window the render device is created on: its client area
// is the widget's, and its GL surface the hosted GL window (none when running without GL).
class CTerrainMainView : public QWidget, public PlatformWindow {
    Q_OBJECT
public:
    explicit CTerrainMainView(QWidget* parent = nullptr);
    ~CTerrainMainView() override;

    void OnInitialUpdate();
    void RenderFrame();
    void ProcessKeyInput();
    void OnLoadTexture();
    void OnSaveMapVertexData();
    void OnLoadMapVertexData();
    void OnImportHeightmap();
    void OnExportHeightmap();
    // Saves the MapVertexData file at path and then the painting beside it, saying what
    // failed; true only when both were written.
    bool SaveMapFile(const QString& path);
    // Loads a MapVertexData file and the painting beside it, says why when something cannot
    // be read, and brings the pages up to date either way. Used by the load command and for
    // a file named on the command line. True when the heights loaded (a painting file that
    // could not be applied is reported, not a failure).
    bool LoadMapFile(const QString& path);
    // An imported heightmap of the current grid's size: its heights replace the current
    // heights (the terrain object, its painting and the camera stay).
    bool ReplaceHeightsWithImported(const std::vector<float>& heights, std::string* error);
    // An imported heightmap of another size: a new terrain of that size, with the current
    // cell spacings and these heights, replaces the current terrain as a new terrain does.
    bool ReplaceTerrainWithImported(int width, int depth, const std::vector<float>& heights,
                                    std::string* error);
    // Replaces the terrain and the pick record with new ones and resets the camera. A size
    // that cannot make a terrain is refused with the reason in *error, and the current
    // terrain stays.
    bool NewTerrain(int width, int depth, int cellSpacing, std::string* error = nullptr);
    // The view's menu commands; false for a command it does not handle.
    bool OnCommand(int id);
    // Releases the terrain, the pick record and the render device context (idempotent).
    void OnDestroy();
    // Gives the keyboard focus to the view (its GL window when there is one).
    void TakeFocus();

    // Input, in the view's client coordinates.
    void OnKeyDown(int key);
    void OnKeyUp(int key);
    void OnLButtonDown();
    void OnLButtonUp();
    void OnRButtonDown(QPoint screen); // where the button went down, on the screen
    void OnRButtonUp();
    void OnMouseMove(QPoint client);
    // Whether the camera key (a Qt key code) is held, from the key-state table.
    bool IsKeyHeld(int key) const { return heldKeys_.count(key) != 0; }

    RECT ClientRect() const override;
    GlSurface* Surface() override;

    // The window that receives the view's input and shows its frames: the GL window, or
    // the view itself without GL.
    QWindow* InputWindow() const;
    CGlViewWindow* GlWindow() const { return glWindow_; }

    // Whether new views draw through OpenGL (when the OpenGL device is built in); tests
    // may turn it off before the view is made to run on the memory device.
    static bool useGl;

    bool mouseLook = false;
    KrPickRay* pickRay = nullptr;
    KrTerrain* terrain = nullptr;
    long framesDrawn = 0; // frames presented, for tests and diagnostics

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool HandleInput(QEvent* event);
    // Makes fresh (created on the renderer's device) the view's terrain, with a new pick
    // record and the camera at its start.
    void InstallTerrain(KrTerrain* fresh);
    // The pages after a new terrain: the map page's size, modes and trackbars taken into
    // it, and no texture rows.
    void ShowNewTerrainOnPages();
    void SetMouseCapture(bool on);
    IDirect3DDevice9* Device() const;

    CGlViewWindow* glWindow_ = nullptr;
    // Says in the view's place why there is no picture; the editor goes on without one.
    void ShowNoGlNotice(const QString& reason);
    QWidget* container_ = nullptr;
    std::set<int> heldKeys_;
    QPoint lookFrom_; // screen point the next mouse-look turn is measured from
    bool captured_ = false;
    bool destroyed_ = false;
};
