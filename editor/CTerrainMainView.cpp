#include "CTerrainMainView.h"

#include "CGlViewWindow.h"
#include "CMainFrame.h"
#include "CPrompts.h"
#include "CTerrainDocument.h"
#include "CTerrainMapControl.h"
#include "CTerrainTabMenu.h"
#include "CTerrainTextureControl.h"
#include "KrRenderer.h"
#include "KrTerrainGrid.h"
#include "memory_device.h"
#include "resource.h"

#ifdef VELDMARK_HAVE_GL_DEVICE
#include "gl_device.h"
#endif

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStatusBar>
#include <QVBoxLayout>

#ifdef VELDMARK_HAVE_GL_DEVICE
bool CTerrainMainView::useGl = true;
#else
bool CTerrainMainView::useGl = false;
#endif

namespace {

constexpr int kDefaultSide = 129;
constexpr int kDefaultSpacing = 10;
constexpr D3DCOLOR kSkyColour = 0xFF0000FF;
constexpr float kMoveStep = 10.0f;
constexpr float kRollStep = 0.005f;
constexpr float kLookPerPixel = 0.002f;

const char* const kMapFilter = "MapVertexData File (*.mvd)|*.mvd|";
const QString kNoLayerMessage =
    QStringLiteral("칠할 레이어가 없습니다: '선택된 텍스쳐'에서 레이어를 고르십시오.");
const char* const kTextureFilter = "Texture File (*.bmp, *.jpg, *.png)|*.bmp; *.jpg; *.png;|";

// The camera keys in the order they are applied.
struct CameraKey {
    int key;
    void (*apply)(KrCamera&);
};
const CameraKey kCameraKeys[] = {
    {Qt::Key_W, [](KrCamera& c) { c.Walk(kMoveStep); }},
    {Qt::Key_S, [](KrCamera& c) { c.Walk(-kMoveStep); }},
    {Qt::Key_A, [](KrCamera& c) { c.Strafe(-kMoveStep); }},
    {Qt::Key_D, [](KrCamera& c) { c.Strafe(kMoveStep); }},
    {Qt::Key_R, [](KrCamera& c) { c.Fly(kMoveStep); }},
    {Qt::Key_F, [](KrCamera& c) { c.Fly(-kMoveStep); }},
    {Qt::Key_Q, [](KrCamera& c) { c.RotateZ(kRollStep, 0); }},
    {Qt::Key_E, [](KrCamera& c) { c.RotateZ(-kRollStep, 0); }},
};

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString FileLabel(const QString& path) {
    return QDir::toNativeSeparators(path);
}

CTerrainTabMenu* TabMenu() {
    CMainFrame* frame = GetMainFrame();
    return frame ? frame->tabMenu : nullptr;
}

// A terrain of its own on device around a prepared grid: the device part of a new terrain
// or a load, on the interface thread. Null with the reason in *error.
std::unique_ptr<KrTerrain> TerrainWithGrid(IDirect3DDevice9* device, KrTerrainGrid& grid,
                                           std::string* error) {
    auto made = std::make_unique<KrTerrain>();
    made->device = device;
    if (!made->InstallGrid(grid, error))
        return nullptr;
    return made;
}

} // namespace

CTerrainMainView::CTerrainMainView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("CTerrainMainView"));
    setProperty("controlId", AFX_IDW_PANE_FIRST);
    setFocusPolicy(Qt::ClickFocus);
    setMinimumSize(16, 16);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true); // the pick ray follows the cursor with no button held
    if (useGl) {
        auto* window = new CGlViewWindow();
        if (window->CreateContext()) {
            glWindow_ = window;
            container_ = QWidget::createWindowContainer(glWindow_, this);
            container_->setFocusPolicy(Qt::ClickFocus);
            container_->setMinimumSize(16, 16);
            auto* layout = new QVBoxLayout(this);
            layout->setContentsMargins(0, 0, 0, 0);
            layout->addWidget(container_);
            glWindow_->installEventFilter(this);
        } else {
            delete window;
            ShowNoGlNotice(QStringLiteral("OpenGL 3.3 코어 컨텍스트를 만들 수 없습니다"));
        }
    }
}

CTerrainMainView::~CTerrainMainView() {
    OnDestroy();
}

RECT CTerrainMainView::ClientRect() const {
    return RECT{0, 0, width(), height()};
}

GlSurface* CTerrainMainView::Surface() {
    return glWindow_;
}

QWindow* CTerrainMainView::InputWindow() const {
    if (glWindow_)
        return glWindow_;
    return window() ? window()->windowHandle() : nullptr;
}

IDirect3DDevice9* CTerrainMainView::Device() const {
    return KrRenderer::GetInstance()->device;
}

void CTerrainMainView::ShowNoGlNotice(const QString& reason) {
    qWarning("Veldmark: the 3D view cannot be shown (%s)", qPrintable(reason));
    auto* notice = new QLabel(QStringLiteral("3D 화면을 보여 줄 수 없습니다: %1. 지형을 만들고 "
                                             "고치고 불러오고 저장하는 일은 그대로 됩니다.")
                                  .arg(reason),
                              this);
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignCenter);
    notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    // The view paints nothing of its own, so the notice brings its own background.
    notice->setAutoFillBackground(true);
    notice->setMargin(24);
    if (!layout()) {
        auto* box = new QVBoxLayout(this);
        box->setContentsMargins(0, 0, 0, 0);
    }
    layout()->addWidget(notice);
}

void CTerrainMainView::OnInitialUpdate() {
    KrRenderer* renderer = KrRenderer::GetInstance();
#ifdef VELDMARK_HAVE_GL_DEVICE
    if (glWindow_)
        RegisterGlDevice();
#endif
    renderer->Create(this);
    if (!renderer->device && glWindow_) {
        // Keep a working editor (on the memory device, with nothing on screen) rather
        // than a view without a device that the terrain and the handlers cannot use, and
        // say so where the picture would be.
#ifdef VELDMARK_HAVE_GL_DEVICE
        const QString reason = QStringLiteral("OpenGL 장치를 만들지 못했습니다 (") +
                               QString::fromUtf8(GlDeviceLastError()) + u')';
#else
        const QString reason = QStringLiteral("이 빌드에는 OpenGL 지원이 없습니다");
#endif
        glWindow_->removeEventFilter(this);
        delete container_; // deletes the GL window too
        container_ = nullptr;
        glWindow_ = nullptr;
        ShowNoGlNotice(reason);
        renderer->Create(this);
    }
    if (auto* memory = dynamic_cast<MemoryDevice*>(renderer->device))
        memory->recording = false; // an editor session would grow the call log forever

    if (!terrain)
        terrain = new KrTerrain();
    terrain->device = renderer->device;
    if (renderer->device)
        terrain->Create(kDefaultSide, kDefaultSide, kDefaultSpacing);
    terrain->fillMode = D3DFILL_SOLID;
    renderer->camera.Reset();
    if (renderer->device)
        renderer->UpdateView();
    if (!pickRay)
        pickRay = new KrPickRay();
    terrain->pickRay = pickRay;
}

void CTerrainMainView::RenderFrame() {
    KrRenderer* renderer = KrRenderer::GetInstance();
    IDirect3DDevice9* device = renderer->device;
    if (!device)
        return;
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kSkyColour, 1.0f, 0);
    device->BeginScene();
    if (terrain)
        terrain->Render();
    renderer->ApplyMaterial();
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
    ++framesDrawn;
}

void CTerrainMainView::ProcessKeyInput() {
    KrRenderer* renderer = KrRenderer::GetInstance();
    for (const CameraKey& camKey : kCameraKeys) {
        if (!IsKeyHeld(camKey.key))
            continue;
        camKey.apply(renderer->camera);
        if (renderer->device)
            renderer->UpdateView();
    }
}

void CTerrainMainView::OnKeyDown(int key) {
    heldKeys_.insert(key);
    ProcessKeyInput();
}

void CTerrainMainView::OnKeyUp(int key) {
    heldKeys_.erase(key);
}

void CTerrainMainView::OnLButtonDown() {
    TakeFocus();
    if (!terrain)
        return;
    // Painting without a layer does nothing; say why rather than ignore the stroke.
    const size_t layers = terrain->alphaMaps.size();
    if (terrain->activeTool == 1 &&
        static_cast<size_t>(static_cast<unsigned>(terrain->selectedLayer)) >= layers) {
        if (CMainFrame* frame = GetMainFrame())
            frame->statusBar()->showMessage(kNoLayerMessage, 5000);
    }
    // Everything the drag changes, from here to the button's release, is one step, and the
    // terrain's own stroke (where "set height" takes its target) starts with it.
    terrain->BeginStroke();
    if (CTerrainDocument* document = Document())
        document->BeginStroke();
    terrain->editing = true;
    terrain->Update();
}

void CTerrainMainView::OnLButtonUp() {
    if (!terrain)
        return;
    terrain->editing = false;
    terrain->Update();
    if (CTerrainDocument* document = Document())
        document->EndStroke();
}

void CTerrainMainView::OnRButtonDown(QPoint screen) {
    TakeFocus();
    mouseLook = true;
    // The first turn is measured from where the button went down, not from the view's
    // centre, which would turn the camera by the cursor's distance from it.
    lookFrom_ = screen;
}

void CTerrainMainView::OnRButtonUp() {
    mouseLook = false;
}

void CTerrainMainView::OnMouseMove(QPoint client) {
    KrRenderer* renderer = KrRenderer::GetInstance();
    if (renderer->device && pickRay)
        pickRay->ComputePickRay(renderer->device, renderer->deviceWindow, client.x(), client.y());
    if (!mouseLook)
        return;

    const QPoint topLeft = mapToGlobal(QPoint(0, 0));
    const int left = topLeft.x(), top = topLeft.y();
    const int right = left + width(), bottom = top + height();
    const int cx = left + (right - left) / 2;
    const int cy = top + (bottom - top) / 2;
    const QPoint cursor = QCursor::pos();
    const QPoint from = lookFrom_;
    QCursor::setPos(cx, cy);
    lookFrom_ = QPoint(cx, cy);

    renderer->camera.RotateY(static_cast<float>(cursor.x() - from.x()) * kLookPerPixel, 0);
    renderer->camera.RotateX(static_cast<float>(cursor.y() - from.y()) * kLookPerPixel, 0);
    if (renderer->device)
        renderer->UpdateView();
    if (terrain)
        terrain->Update();
    RenderFrame();
}

void CTerrainMainView::TakeFocus() {
    if (container_) {
        container_->setFocus(Qt::MouseFocusReason);
        glWindow_->requestActivate();
    } else {
        setFocus(Qt::MouseFocusReason);
    }
}

void CTerrainMainView::SetMouseCapture(bool on) {
    if (on == captured_)
        return;
    captured_ = on;
    if (glWindow_)
        glWindow_->setMouseGrabEnabled(on);
    else if (on)
        grabMouse();
    else
        releaseMouse();
}

bool CTerrainMainView::HandleInput(QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        OnKeyDown(key->key());
        return false;
    }
    case QEvent::KeyRelease: {
        auto* key = static_cast<QKeyEvent*>(event);
        // Auto-repeat sends a release before each repeated press; the key is still held.
        if (!key->isAutoRepeat())
            OnKeyUp(key->key());
        return false;
    }
    case QEvent::FocusOut:
        // Keys released while another window has the focus never reach the table.
        heldKeys_.clear();
        return false;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton)
            OnLButtonDown();
        else if (mouse->button() == Qt::RightButton)
            OnRButtonDown(mouse->globalPosition().toPoint());
        // Hold the mouse while a button is down so the release ends the stroke or the
        // mouse look even when it happens outside the view.
        SetMouseCapture(mouse->buttons() != Qt::NoButton);
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton)
            OnLButtonUp();
        else if (mouse->button() == Qt::RightButton)
            OnRButtonUp();
        SetMouseCapture(mouse->buttons() != Qt::NoButton);
        return false;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        OnMouseMove(mouse->position().toPoint());
        return false;
    }
    default:
        return false;
    }
}

bool CTerrainMainView::event(QEvent* event) {
    if (!glWindow_)
        HandleInput(event);
    return QWidget::event(event);
}

bool CTerrainMainView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == glWindow_)
        HandleInput(event);
    return QWidget::eventFilter(watched, event);
}

void CTerrainMainView::paintEvent(QPaintEvent*) {
    // Frames come from the idle loop; painting draws nothing.
}

bool CTerrainMainView::OnCommand(int id) {
    switch (id) {
    case ID_SAVE_MAP:
        if (CTerrainDocument* document = Document())
            document->Save(); // to the open file, without a dialog
        else
            OnSaveMapVertexData();
        return true;
    case ID_LOAD_MAP:
        OnLoadMapVertexData();
        return true;
    case ID_LOAD_TEXTURE:
        OnLoadTexture();
        return true;
    default:
        return false;
    }
}

void CTerrainMainView::OnLoadTexture() {
    const QStringList paths = Prompts().OpenFiles(this, QStringLiteral("텍스쳐 불러오기"),
                                                  QString::fromUtf8(kTextureFilter), true);
    if (paths.isEmpty())
        return;
    CTerrainTabMenu* tabs = TabMenu();
    CTerrainTextureControl* page = tabs ? tabs->texturePage : nullptr;
    QStringList failures;
    for (const QString& path : paths) {
        const QString name = QFileInfo(path).fileName();
        if (!terrain)
            continue;
        std::string error;
        // Only a texture that loaded gets a row: the page's rows index the terrain's list.
        if (terrain->AddTexture(path.toStdWString().c_str(), &error)) {
            terrain->textures.back()->name = name.toStdString();
            if (page)
                page->AddTextureName(name);
        } else {
            failures << QStringLiteral("%1: %2").arg(name, FromUtf8(error));
        }
    }
    if (!failures.isEmpty()) {
        Prompts().Message(this, QStringLiteral("텍스쳐 불러오기"),
                          QStringLiteral("다음 텍스쳐 파일을 불러오지 못했습니다:\n\n%1")
                              .arg(failures.join(u'\n')));
    }
}

QString CTerrainMainView::OnSaveMapVertexData(const QString& given, const QString& title) {
    const QString path =
        given.isEmpty()
            ? Prompts().SaveFile(this, title, QString::fromUtf8(kMapFilter), QStringLiteral("mvd"))
            : given;
    if (path.isEmpty() || !terrain)
        return QString();
    std::string error;
    if (!terrain->SaveMapVertexData(QFile::encodeName(path).constData(), &error)) {
        Prompts().Message(this, QStringLiteral("Do not Create File"),
                          QStringLiteral("Do not Create File\n%1\n\n%2\n\n같은 이름의 파일이 "
                                         "있었다면 그대로 남아 있습니다.")
                              .arg(FromUtf8(error), FileLabel(path)));
        return QString();
    }
    return path;
}

void CTerrainMainView::OnLoadMapVertexData() {
    if (CTerrainDocument* document = Document()) {
        document->Load();
        return;
    }
    QString path;
    std::unique_ptr<KrTerrain> loaded = ReadMapVertexData(&path);
    if (loaded && terrain)
        terrain->SwapGrid(*loaded);
    CTerrainTabMenu* tabs = TabMenu();
    if (tabs && tabs->mapPage)
        tabs->mapPage->TerrainReplaced();
}

std::unique_ptr<KrTerrain> CTerrainMainView::ReadMapVertexData(QString* chosen) {
    if (chosen->isEmpty()) {
        const QStringList paths = Prompts().OpenFiles(this, QStringLiteral("불러오기"),
                                                      QString::fromUtf8(kMapFilter), false);
        if (paths.isEmpty())
            return nullptr;
        *chosen = paths.first();
    }
    if (!terrain)
        return nullptr;
    const QString& path = *chosen;
    // Read and checked beside the terrain without the device, then put into a terrain of its
    // own; the view's terrain takes the new grid only once it is complete. The reader opens
    // regular files only, so a named pipe cannot block the view.
    KrTerrainGrid grid;
    std::string error;
    std::unique_ptr<KrTerrain> loaded;
    if (PrepareMapVertexData(QFile::encodeName(path).constData(), &grid, {}, &error))
        loaded = TerrainWithGrid(terrain->device, grid, &error);
    if (!loaded) {
        Prompts().Message(this, QStringLiteral("파일을 불러올 수 없습니다"),
                          QStringLiteral("파일을 불러올 수 없습니다\n%1\n\n%2\n\n지형은 바뀌지 "
                                         "않았습니다.")
                              .arg(FromUtf8(error), FileLabel(path)));
        return nullptr;
    }
    return loaded;
}

bool CTerrainMainView::NewTerrain(int width, int depth, int cellSpacing, std::string* error) {
    if (!IsValidTerrainSize(width, depth, static_cast<float>(cellSpacing))) {
        if (error) {
            *error = "지형은 한 변에 2에서 " + std::to_string(kMaxTerrainSide) +
                     "개의 정점과 0보다 큰 셀 간격이 있어야 하고, 폭과 깊이가 " +
                     std::to_string(INT32_MAX) + " 단위를 넘지 않아야 합니다.";
        }
        return false;
    }
    KrRenderer* renderer = KrRenderer::GetInstance();
    // The grid is laid out without the device, then put into a terrain of its own before the
    // old one goes, so a failure keeps the old one.
    KrTerrainGrid grid;
    std::string reason;
    if (!PrepareGrid(width, depth, cellSpacing, &grid, {}, &reason)) {
        if (error)
            *error = reason + ".";
        return false;
    }
    std::unique_ptr<KrTerrain> fresh;
    if (renderer->device)
        fresh = TerrainWithGrid(renderer->device, grid, nullptr);
    if (!fresh) {
        if (error)
            *error = "그래픽 장치가 이 크기의 지형을 담지 못했습니다.";
        return false;
    }
    fresh->fillMode = D3DFILL_SOLID;
    // The pick record is kept: its contents are only read after the next mouse move.
    fresh->pickRay = pickRay;
    if (CTerrainDocument* document = Document()) {
        // The old terrain stays whole in the history, for undo.
        document->ReplaceTerrain(std::move(fresh));
    } else {
        delete terrain;
        terrain = fresh.release();
    }
    renderer->camera.Reset();
    renderer->UpdateView();
    return true;
}

void CTerrainMainView::OnDestroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    SetMouseCapture(false);
    delete terrain;
    terrain = nullptr;
    delete pickRay;
    pickRay = nullptr;
    // The renderer goes while the GL window it draws on still exists.
    KrRenderer::DestroyInstance();
}
