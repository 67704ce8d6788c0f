// The 3D view: owns the terrain and the pick record, drives the camera from the keyboard
// and mouse, and runs the save, load and texture commands.
#pragma once

#include "KrCamera.h"
#include "KrTerrain.h"
#include "KrTerrainGrid.h"
#include "win32.h"

#include <QPoint>
#include <QWidget>

#include <memory>
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
    // Writes the terrain and its painting to path, or to a file the user names (in a dialog
    // titled title) when path is empty. The path written; empty when cancelled or when either
    // file failed (the user is told why, and a file that was there stays as it was).
    QString OnSaveMapVertexData(const QString& path = QString(),
                                const QString& title = QStringLiteral("저장"));
    // The load command: through the document, which asks to save changes first.
    void OnLoadMapVertexData();
    void OnImportHeightmap();
    void OnExportHeightmap();
    // Saves the MapVertexData file at path and then the painting beside it, saying what
    // failed; true only when both were written. The files are written off the interface
    // thread while frames go on (CLongOperation).
    bool SaveMapFile(const QString& path);
    // A MapVertexData file read off the interface thread: its grid, ready to be installed,
    // and the painting beside it, made on this view's device (null where none is restored;
    // paintingLoad says why).
    struct MapFileRead {
        KrTerrainGrid grid;
        std::unique_ptr<KrTerrain> painting;
        KrTerrain::PaintingLoad paintingLoad;
    };
    // Reads a MapVertexData file (*path, or one the user picks when it is empty, which then
    // goes to *path) and the painting beside it, checked against the heights as read, with
    // a progress dialog that can cancel. False when cancelled or the heights cannot be read
    // (the user is told why); the view's terrain is not touched. ReportPainting tells the
    // user what of the painting was not restored, once the terrain is shown.
    bool ReadMapFile(QString* path, MapFileRead* read);
    void ReportLoadFailure(const QString& path, const std::string& error);
    void ReportPainting(const QString& path, const KrTerrain::PaintingLoad& painting);
    // An imported heightmap of the current grid's size: its heights replace the current
    // heights as one step (the terrain object, its painting and the camera stay).
    bool ReplaceHeightsWithImported(const std::vector<float>& heights, std::string* error);
    // An imported heightmap of another size: after the question about unsaved changes, a new
    // terrain of that size, with the current cell spacings and these heights, replaces the
    // current terrain as a new terrain does. False when nothing changed: *error says why, or
    // is empty when the user cancelled.
    bool ReplaceTerrainWithImported(int width, int depth, const std::vector<float>& heights,
                                    std::string* error);
    // Replaces the terrain with a new one (one step of the document's history) and resets
    // the camera. A size that cannot make a terrain is refused with the reason in *error,
    // and the current terrain stays; so does a cancel, with *error empty.
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
    bool HandleInputWhileWorking(QEvent* event);
    // Makes fresh (made on the renderer's device) the view's terrain, as one step of the
    // document's history (imported: from a heightmap), with the camera at its start.
    void InstallTerrain(std::unique_ptr<KrTerrain> fresh, bool imported);
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
