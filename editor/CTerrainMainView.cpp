#include "CTerrainMainView.h"

#include "CGlViewWindow.h"
#include "CLongOperation.h"
#include "CMainFrame.h"
#include "CPrompts.h"
#include "CTerrainDocument.h"
#include "CTerrainMapControl.h"
#include "CTerrainTabMenu.h"
#include "CTerrainTextureControl.h"
#include "KrRenderer.h"
#include "KrTerrainGrid.h"
#include "heightmap.h"
#include "memory_device.h"
#include "mvd_file.h"
#include "painting_file.h"
#include "resource.h"
#include "safe_file.h"
#include "splat_file.h"

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

#include <charconv>

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
const char* const kHeightmapOpenFilter =
    "높이맵 (*.png, *.r16, *.raw, *.r32)|*.png;*.r16;*.raw;*.r32|";
const char* const kHeightmapSaveFilter =
    "16비트 PNG 높이맵 (*.png)|*.png|RAW 16비트 높이맵 (*.r16, *.raw)|*.r16;*.raw|"
    "RAW 32비트 실수 높이맵 (*.r32)|*.r32|";
// A 4097 × 4097 RAW 32 file, with room for a PNG that compresses badly.
constexpr uint64_t kMaxHeightmapBytes = 512ull << 20;
const QString kImportingLabel = QStringLiteral("높이맵을 가져오는 중...");
const QString kExportingLabel = QStringLiteral("높이맵을 내보내는 중...");
// Heights typed into the heightmap dialogs stay where the terrain's arithmetic is safe.
constexpr double kHeightLimit = 1.0e9;

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

// The shortest text that reads back as the same height.
QString HeightText(float value) {
    char buffer[32];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, ec == std::errc() ? end - buffer : 0);
}

PromptField HeightField(const char* label, float value) {
    return PromptField{QString::fromUtf8(label), PromptField::Number, value, -kHeightLimit,
                       kHeightLimit};
}

std::string FileName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

bool Cancelled(std::string* error) {
    if (error)
        *error = kPreparationCancelled;
    return false;
}

// A line in the status bar's message pane.
void ShowStatus(const QString& text) {
    if (CMainFrame* frame = GetMainFrame())
        frame->SetMessageText(text);
}

// A terrain of its own on device around a prepared grid, to replace `replaced` (the device part
// of a new terrain, on the interface thread). The terrain replaced is kept for undo without
// its device buffers, so it hands them over: a grid of its size goes into them rather than
// into a second set. Null with the reason in *error; `replaced` then keeps its buffers.
std::unique_ptr<KrTerrain> TerrainWithGrid(IDirect3DDevice9* device, KrTerrainGrid& grid,
                                           KrTerrain* replaced, std::string* error) {
    auto made = std::make_unique<KrTerrain>();
    made->device = device;
    if (replaced)
        made->SwapGridBuffers(*replaced);
    if (!made->InstallGrid(grid, error)) {
        if (replaced)
            made->SwapGridBuffers(*replaced);
        return nullptr;
    }
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

// While long work runs, only what ends a held key or button gets through, and nothing runs
// the terrain's Update: the work may be reading the master array.
bool CTerrainMainView::HandleInputWhileWorking(QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyRelease:
        if (!static_cast<QKeyEvent*>(event)->isAutoRepeat())
            OnKeyUp(static_cast<QKeyEvent*>(event)->key());
        break;
    case QEvent::FocusOut:
        heldKeys_.clear();
        break;
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton && terrain) {
            terrain->editing = false;
            if (CTerrainDocument* document = Document())
                document->EndStroke();
        } else if (mouse->button() == Qt::RightButton) {
            mouseLook = false;
        }
        SetMouseCapture(mouse->buttons() != Qt::NoButton);
        break;
    }
    default:
        break;
    }
    return false;
}

bool CTerrainMainView::HandleInput(QEvent* event) {
    if (CLongOperation::Running())
        return HandleInputWhileWorking(event);
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
    case ID_IMPORT_HEIGHTMAP:
        OnImportHeightmap();
        return true;
    case ID_EXPORT_HEIGHTMAP:
        OnExportHeightmap();
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
            if (page)
                page->AddTextureName(name);
            if (CTerrainDocument* document = Document())
                document->PaintingChanged();
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
    return SaveMapFile(path) ? path : QString();
}

void CTerrainMainView::OnLoadMapVertexData() {
    if (CTerrainDocument* document = Document())
        document->Load();
}

// The heights first: the painting file names the heights it belongs to, so it is written
// only beside the file it describes. The painting's alpha maps are read from the device here;
// both files are written off this thread, which meanwhile draws frames without touching the
// master array the writer reads.
bool CTerrainMainView::SaveMapFile(const QString& path) {
    if (!terrain)
        return false;
    const std::string file = FileName(path);
    KrPaintingWrite painting;
    std::string paintingError;
    const bool collected = terrain->CollectPainting(file.c_str(), &painting, &paintingError);
    const KrTerrainInfo info = terrain->info;
    const KrTerrainVertex* vertices = terrain->vertices;
    bool heightsSaved = false, paintingSaved = false;
    std::string heightsError, refused;
    CLongOperation::Run(
        QStringLiteral("저장하는 중..."), false,
        [&](const KrProgress& progress, std::string*) {
            heightsSaved = WriteMapVertexData(file.c_str(), info, vertices,
                                              progress.Part(0.0f, 0.8f), &heightsError);
            if (heightsSaved && collected)
                paintingSaved = WritePaintingFile(painting, info, vertices, &paintingError);
            progress.Report(1.0f);
            return heightsSaved && paintingSaved;
        },
        &refused);
    if (!heightsSaved) {
        Prompts().Message(
            this, QStringLiteral("Do not Create File"),
            QStringLiteral("Do not Create File\n%1\n\n%2\n\n같은 이름의 파일이 "
                           "있었다면 그대로 남아 있습니다.")
                .arg(FromUtf8(heightsError.empty() ? refused : heightsError), FileLabel(path)));
        return false;
    }
    if (!paintingSaved) {
        const QString splat = FileLabel(QFile::decodeName(painting.path.c_str()));
        Prompts().Message(this, QStringLiteral("Do not Create File"),
                          QStringLiteral("Do not Create File\n%1\n\n%2\n\n지형의 높이는 %3에 "
                                         "저장했지만, 텍스쳐와 스플랫 레이어는 저장하지 "
                                         "못했습니다. 그 자리에 있던 파일은 그대로 남지만, 새 "
                                         ".mvd와 짝이 맞지 않아 불러올 때 적용되지 않습니다.")
                              .arg(FromUtf8(paintingError), splat, FileLabel(path)));
        return false;
    }
    return true;
}

bool CTerrainMainView::ReadMapFile(QString* chosen, MapFileRead* read) {
    *read = MapFileRead{};
    if (chosen->isEmpty()) {
        const QStringList paths = Prompts().OpenFiles(this, QStringLiteral("불러오기"),
                                                      QString::fromUtf8(kMapFilter), false);
        if (paths.isEmpty())
            return false;
        *chosen = paths.first();
    }
    if (!terrain)
        return false;
    const QString& path = *chosen;
    // Read and checked off this thread without the device, beside the terrain that frames go
    // on drawing; the view's terrain takes the new grid only once it is complete. The reader
    // opens regular files only, so a named pipe cannot block it.
    const std::string file = FileName(path);
    KrPaintingRead painting;
    std::string error;
    const CLongOperation::Outcome outcome = CLongOperation::Run(
        QStringLiteral("불러오는 중..."), true,
        [&](const KrProgress& progress, std::string* why) {
            if (!PrepareMapVertexData(file.c_str(), &read->grid, progress.Part(0.0f, 0.9f), why))
                return false;
            // Checked against the vertices as they were read, before any frame changes a
            // normal.
            painting = ReadPaintingFile(file.c_str(), read->grid.info, read->grid.vertices.get());
            progress.Report(1.0f);
            return true;
        },
        &error);
    if (outcome == CLongOperation::Outcome::Cancelled) {
        ShowStatus(QStringLiteral("불러오기를 취소했습니다. 지형은 바뀌지 않았습니다."));
        *read = MapFileRead{};
        return false;
    }
    if (outcome != CLongOperation::Outcome::Done) {
        ReportLoadFailure(path, error);
        *read = MapFileRead{};
        return false;
    }
    if (painting.status == KrTerrain::PaintingLoad::Restored) {
        read->painting = std::make_unique<KrTerrain>();
        read->painting->device = terrain->device;
        read->paintingLoad = read->painting->ApplyPainting(painting);
        if (read->paintingLoad.status != KrTerrain::PaintingLoad::Restored)
            read->painting.reset();
    } else {
        read->paintingLoad.status = painting.status;
        read->paintingLoad.error = painting.error;
    }
    return true;
}

void CTerrainMainView::ReportLoadFailure(const QString& path, const std::string& error) {
    Prompts().Message(this, QStringLiteral("파일을 불러올 수 없습니다"),
                      QStringLiteral("파일을 불러올 수 없습니다\n%1\n\n%2\n\n지형은 바뀌지 "
                                     "않았습니다.")
                          .arg(FromUtf8(error), FileLabel(path)));
}

void CTerrainMainView::ReportPainting(const QString& path,
                                      const KrTerrain::PaintingLoad& painting) {
    const QString splat = FileLabel(QFile::decodeName(SplatPathFor(FileName(path)).c_str()));
    if (painting.status == KrTerrain::PaintingLoad::Refused) {
        Prompts().Message(this, QStringLiteral("텍스쳐 칠하기 불러오기"),
                          QStringLiteral("지형의 높이는 불러왔지만, 옆의 %1은(는) 적용하지 "
                                         "않았습니다.\n\n%2\n\n텍스쳐와 스플랫 레이어는 "
                                         "불러오기 전 그대로입니다.")
                              .arg(splat, FromUtf8(painting.error)));
    } else if (!painting.missing.empty()) {
        QStringList lines;
        for (const std::string& line : painting.missing)
            lines << FromUtf8(line);
        Prompts().Message(this, QStringLiteral("텍스쳐 칠하기 불러오기"),
                          QStringLiteral("텍스쳐 칠하기를 불러왔지만 다음 텍스쳐 파일을 "
                                         "읽지 못했습니다:\n\n%1\n\n이 텍스쳐를 쓰는 "
                                         "레이어는 칠한 내용을 그대로 간직합니다. 파일을 "
                                         "제자리에 돌려놓고 다시 불러오면 그려집니다.")
                              .arg(lines.join(u'\n')));
    }
}

void CTerrainMainView::OnImportHeightmap() {
    const QString title = QStringLiteral("높이맵 가져오기");
    const QStringList paths =
        Prompts().OpenFiles(this, title, QString::fromUtf8(kHeightmapOpenFilter), false);
    if (paths.isEmpty() || !terrain || !terrain->vertices)
        return;
    const QString& path = paths.first();
    const QString name = QFileInfo(path).fileName();
    const auto fail = [&](const std::string& reason) {
        Prompts().Message(this, title,
                          QStringLiteral("높이맵을 가져오지 못했습니다\n%1\n\n%2\n\n지형은 "
                                         "그대로입니다.")
                              .arg(FromUtf8(reason), FileLabel(path)));
    };

    const std::string file = FileName(path);
    const HeightmapFormat format = HeightmapFormatOf(file);
    if (format != HeightmapFormat::Png && format != HeightmapFormat::Raw16 &&
        format != HeightmapFormat::Raw32)
        return fail("높이맵은 .png, .r16, .raw, .r32 파일이어야 합니다.");

    // Read, and decoded where the file gives its own size, off this thread.
    const int sampleBytes = format == HeightmapFormat::Raw32 ? 4 : 2;
    std::vector<uint8_t> bytes;
    HeightmapImage image;
    bool decoded = false;
    std::string error;
    const auto decode = [&](int32_t width, int32_t depth) {
        return CLongOperation::Run(
            kImportingLabel, true,
            [&, width, depth](const KrProgress& progress, std::string* why) {
                if (bytes.empty() &&
                    !ReadRegularFile(file.c_str(), kMaxHeightmapBytes, &bytes, why))
                    return false;
                if (progress.Cancelled())
                    return Cancelled(why);
                progress.Report(0.5f);
                if (format == HeightmapFormat::Png || width > 0 ||
                    SquareRawSide(bytes.size(), sampleBytes) != 0) {
                    if (!DecodeHeightmap(format, bytes.data(), bytes.size(), width, depth, &image,
                                         why))
                        return false;
                    decoded = true;
                    bytes = {};
                }
                progress.Report(1.0f);
                return true;
            },
            &error);
    };
    CLongOperation::Outcome outcome = decode(0, 0);
    if (outcome == CLongOperation::Outcome::Done && !decoded) {
        QList<PromptField> size = {
            {QStringLiteral("Width(가로)"), PromptField::Integer,
             static_cast<double>(terrain->info.vertsPerRow), 2, kMaxTerrainSide},
            {QStringLiteral("Depth(세로)"), PromptField::Integer,
             static_cast<double>(terrain->info.vertsPerCol), 2, kMaxTerrainSide}};
        const QString text =
            QStringLiteral("%1 (%2바이트)은(는) 정사각형 격자에 맞지 않습니다. 높이맵의 가로와 "
                           "세로 정점 수를 입력하십시오.")
                .arg(name)
                .arg(bytes.size());
        if (!Prompts().AskValues(this, title, text, &size))
            return;
        outcome = decode(static_cast<int32_t>(size[0].value), static_cast<int32_t>(size[1].value));
    }
    if (outcome == CLongOperation::Outcome::Cancelled)
        return ShowStatus(QStringLiteral("높이맵 가져오기를 취소했습니다. 지형은 그대로입니다."));
    if (outcome != CLongOperation::Outcome::Done)
        return fail(error);

    HeightRange range;
    if (image.bits != 32) {
        const HeightRange start = image.hasRange ? image.range : kDefaultHeightRange;
        QString text = QStringLiteral("%1\n크기: %2 × %3, %4비트 회색조 %5\n")
                           .arg(name)
                           .arg(image.width)
                           .arg(image.depth)
                           .arg(image.bits)
                           .arg(format == HeightmapFormat::Png ? "PNG" : "RAW");
        text += image.hasRange ? QStringLiteral("내보낼 때 기록된 높이 범위: %1 ~ %2")
                                     .arg(HeightText(image.range.low), HeightText(image.range.high))
                               : QStringLiteral("파일에 기록된 높이 범위가 없습니다.");
        if (image.bits == 8)
            text += QStringLiteral("\n\n이 이미지는 8비트라서 높이를 256단계로만 나타냅니다. "
                                   "고운 높이가 필요하면 16비트 PNG를 쓰십시오.");
        text += QStringLiteral("\n\n가장 낮은 코드(0)와 가장 높은 코드(%1)가 나타낼 높이를 "
                               "입력하십시오.")
                    .arg(image.MaxCode());
        QList<PromptField> fields = {HeightField("최저 높이", start.low),
                                     HeightField("최고 높이", start.high)};
        if (!Prompts().AskValues(this, title, text, &fields))
            return;
        range =
            HeightRange{static_cast<float>(fields[0].value), static_cast<float>(fields[1].value)};
    }

    const int32_t width = image.width, depth = image.depth;
    const std::vector<float> heights = HeightsOf(image, range);
    image = HeightmapImage{};
    const bool sameGrid = width == terrain->info.vertsPerRow && depth == terrain->info.vertsPerCol;
    const bool done = sameGrid ? ReplaceHeightsWithImported(heights, &error)
                               : ReplaceTerrainWithImported(width, depth, heights, &error);
    if (!done && !error.empty()) // empty: the user cancelled
        fail(error);
}

bool CTerrainMainView::ReplaceHeightsWithImported(const std::vector<float>& heights,
                                                  std::string* error) {
    if (!terrain || heights.size() != static_cast<size_t>(terrain->info.numVertices)) {
        if (error)
            *error = "높이맵의 크기가 지형과 다릅니다.";
        return false;
    }
    // Made off this thread from the terrain's own grid, which frames leave alone meanwhile.
    const KrTerrainInfo info = terrain->info;
    const KrTerrainVertex* like = terrain->vertices;
    KrTerrainGrid grid;
    std::string reason;
    const CLongOperation::Outcome outcome = CLongOperation::Run(
        kImportingLabel, true,
        [&](const KrProgress& progress, std::string* why) {
            return PrepareGridWithHeights(info, like, heights.data(), &grid, progress, why);
        },
        &reason);
    if (outcome != CLongOperation::Outcome::Done) {
        if (error)
            *error = outcome == CLongOperation::Outcome::Cancelled ? std::string() : reason;
        return false;
    }
    // Installed in the terrain, into the buffers it has; the step keeps the grid replaced,
    // for undo.
    if (CTerrainDocument* document = Document())
        return document->ReplaceHeights(grid, error);
    return terrain->InstallGrid(grid, error);
}

bool CTerrainMainView::ReplaceTerrainWithImported(int width, int depth,
                                                  const std::vector<float>& heights,
                                                  std::string* error) {
    KrRenderer* renderer = KrRenderer::GetInstance();
    if (!terrain || !renderer->device ||
        heights.size() != static_cast<size_t>(width) * static_cast<size_t>(depth)) {
        if (error)
            *error = "새 지형을 만들 수 없습니다.";
        return false;
    }
    // The whole terrain goes: unsaved changes are asked about first.
    if (CTerrainDocument* document = Document(); document && !document->MaybeSave()) {
        if (error)
            error->clear();
        return false;
    }
    const KrTerrainInfo spacing = terrain->info;
    KrTerrainGrid grid;
    std::string reason;
    const CLongOperation::Outcome outcome = CLongOperation::Run(
        kImportingLabel, true,
        [&](const KrProgress& progress, std::string* why) {
            return PrepareGridFromHeights(width, depth, spacing.cellSpacingX, spacing.cellSpacingY,
                                          spacing.cellSpacingZ, heights.data(), &grid, progress,
                                          why);
        },
        &reason);
    if (outcome != CLongOperation::Outcome::Done) {
        if (error)
            *error = outcome == CLongOperation::Outcome::Cancelled ? std::string() : reason;
        return false;
    }
    // Made before the old terrain goes, so a failure keeps the old one.
    std::unique_ptr<KrTerrain> fresh = TerrainWithGrid(renderer->device, grid, terrain, error);
    if (!fresh)
        return false;
    InstallTerrain(std::move(fresh), true);
    return true;
}

void CTerrainMainView::OnExportHeightmap() {
    const QString title = QStringLiteral("높이맵 내보내기");
    if (!terrain || !terrain->vertices)
        return;
    const QString path = Prompts().SaveFile(this, title, QString::fromUtf8(kHeightmapSaveFilter),
                                            QStringLiteral("png"));
    if (path.isEmpty())
        return;
    const std::string file = FileName(path);
    const HeightmapFormat format = HeightmapFormatOf(file);
    if (format != HeightmapFormat::Png && format != HeightmapFormat::Raw16 &&
        format != HeightmapFormat::Raw32) {
        Prompts().Message(this, title,
                          QStringLiteral("%1\n높이맵은 .png, .r16, .raw, .r32 파일로만 내보낼 수 "
                                         "있습니다.")
                              .arg(FileLabel(path)));
        return;
    }

    // The heights and their range are gathered off this thread, and the files encoded and
    // written there; frames leave the master array alone meanwhile.
    const KrTerrainInfo info = terrain->info;
    const KrTerrainVertex* vertices = terrain->vertices;
    std::vector<float> heights;
    HeightRange own;
    std::string error;
    if (CLongOperation::Run(
            kExportingLabel, false,
            [&](const KrProgress&, std::string*) {
                heights.resize(static_cast<size_t>(info.numVertices));
                for (size_t i = 0; i < heights.size(); ++i)
                    heights[i] = vertices[i].y;
                own = HeightRangeOf(heights.data(), heights.size());
                return true;
            },
            &error) != CLongOperation::Outcome::Done) {
        Prompts().Message(this, title, FromUtf8(error));
        return;
    }
    const bool codes = format != HeightmapFormat::Raw32;
    QList<PromptField> fields;
    QString text;
    if (codes) {
        text = QStringLiteral("지형의 높이(%1 ~ %2)를 16비트 코드 0 ~ 65535에 고르게 옮깁니다. "
                              "다른 범위를 입력하면 그 밖의 높이는 범위 끝으로 잘립니다.")
                   .arg(HeightText(own.low), HeightText(own.high));
        fields << HeightField("최저 높이", own.low) << HeightField("최고 높이", own.high);
    } else {
        text = QStringLiteral("높이를 32비트 실수 그대로 씁니다 (%1 ~ %2).")
                   .arg(HeightText(own.low), HeightText(own.high));
    }
    const int layers = static_cast<int>(terrain->alphaMaps.size());
    const QString stem = QFileInfo(path).path() + u'/' + QFileInfo(path).completeBaseName();
    if (layers > 0)
        fields << PromptField{QStringLiteral("스플랫 레이어 알파맵도 8비트 PNG로 내보내기 "
                                             "(%1_layer1.png ...)")
                                  .arg(QFileInfo(stem).fileName()),
                              PromptField::Check, 0, 0, 1};
    if (!Prompts().AskValues(this, title, text, &fields))
        return;
    HeightRange range = own;
    if (codes) {
        range =
            HeightRange{static_cast<float>(fields[0].value), static_cast<float>(fields[1].value)};
        if (range.low > range.high) {
            Prompts().Message(this, title,
                              QStringLiteral("최저 높이가 최고 높이보다 큽니다. 아무것도 쓰지 "
                                             "않았습니다."));
            return;
        }
    }
    const bool withLayers = layers > 0 && fields.last().value != 0;

    // Each layer's coverage comes from the device, here.
    struct LayerFile {
        QString path;
        std::string file;
        std::vector<uint8_t> coverage;
        bool read = false, written = false;
        std::string error;
    };
    std::vector<LayerFile> layerFiles;
    for (int i = 0; withLayers && i < layers; ++i) {
        LayerFile layer;
        layer.path = QStringLiteral("%1_layer%2.png").arg(stem).arg(i + 1);
        layer.file = FileName(layer.path);
        layer.read = terrain->ReadCoverage(i, &layer.coverage);
        if (!layer.read)
            layer.error = "그래픽 장치에서 알파맵을 읽지 못했습니다.";
        layerFiles.push_back(std::move(layer));
    }

    size_t clipped = 0;
    const CLongOperation::Outcome written = CLongOperation::Run(
        kExportingLabel, false,
        [&](const KrProgress& progress, std::string* why) {
            std::vector<uint8_t> bytes;
            if (!EncodeHeightmap(format, info.vertsPerRow, info.vertsPerCol, heights.data(), range,
                                 &bytes, &clipped, why))
                return false;
            progress.Report(0.6f);
            if (!WriteFileAtomically(file.c_str(), bytes.data(), bytes.size(), why))
                return false;
            for (size_t i = 0; i < layerFiles.size(); ++i) {
                progress.Report(0.8f + 0.2f * static_cast<float>(i) /
                                           static_cast<float>(layerFiles.size()));
                LayerFile& layer = layerFiles[i];
                std::vector<uint8_t> png;
                layer.written =
                    layer.read &&
                    EncodeGreyPng8(ALPHA_MAP_SIZE, ALPHA_MAP_SIZE, layer.coverage.data(), &png,
                                   &layer.error) &&
                    WriteFileAtomically(layer.file.c_str(), png.data(), png.size(), &layer.error);
            }
            progress.Report(1.0f);
            return true;
        },
        &error);
    if (written != CLongOperation::Outcome::Done) {
        Prompts().Message(this, title,
                          QStringLiteral("높이맵을 쓰지 못했습니다\n%1\n\n%2\n\n그 자리에 있던 "
                                         "파일은 그대로입니다.")
                              .arg(FromUtf8(error), FileLabel(path)));
        return;
    }

    QStringList report{QStringLiteral("높이맵을 내보냈습니다: %1").arg(FileLabel(path))};
    if (codes) {
        report << QStringLiteral("높이 %1 ~ %2 → 코드 0 ~ 65535")
                      .arg(HeightText(range.low), HeightText(range.high));
        if (format == HeightmapFormat::Png)
            report << QStringLiteral("이 범위는 PNG에 기록되어, 다시 가져올 때 기본값이 "
                                     "됩니다.");
        else
            report << QStringLiteral("RAW 파일에는 범위가 기록되지 않으니 따로 적어 두십시오.");
        if (clipped > 0)
            report << QStringLiteral("범위 밖이라 잘린 높이: %1개").arg(clipped);
    }
    QStringList failed;
    for (const LayerFile& layer : layerFiles) {
        if (layer.written)
            report << QStringLiteral("알파맵: %1").arg(FileLabel(layer.path));
        else
            failed << QStringLiteral("%1: %2").arg(FileLabel(layer.path), FromUtf8(layer.error));
    }
    if (!failed.isEmpty()) {
        Prompts().Message(this, title,
                          QStringLiteral("높이맵은 내보냈지만 다음 알파맵은 쓰지 "
                                         "못했습니다:\n\n%1")
                              .arg(failed.join(u'\n')));
    }
    Prompts().Inform(this, title, report.join(u'\n'));
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
    // The grid is laid out off this thread without the device, then put into a terrain of
    // its own before the old one goes, so a failure or a cancel keeps the old one.
    KrTerrainGrid grid;
    std::string reason;
    const CLongOperation::Outcome outcome = CLongOperation::Run(
        QStringLiteral("지형을 만드는 중..."), true,
        [&](const KrProgress& progress, std::string* why) {
            return PrepareGrid(width, depth, cellSpacing, &grid, progress, why);
        },
        &reason);
    if (outcome == CLongOperation::Outcome::Cancelled) {
        if (error)
            error->clear();
        ShowStatus(QStringLiteral("새 지형 만들기를 취소했습니다. 지형은 그대로입니다."));
        return false;
    }
    if (outcome != CLongOperation::Outcome::Done) {
        if (error)
            *error = reason + ".";
        return false;
    }
    std::unique_ptr<KrTerrain> fresh;
    if (renderer->device)
        fresh = TerrainWithGrid(renderer->device, grid, terrain, nullptr);
    if (!fresh) {
        if (error)
            *error = "그래픽 장치가 이 크기의 지형을 담지 못했습니다.";
        return false;
    }
    InstallTerrain(std::move(fresh), false);
    return true;
}

void CTerrainMainView::InstallTerrain(std::unique_ptr<KrTerrain> fresh, bool imported) {
    fresh->fillMode = D3DFILL_SOLID;
    // The pick record is kept: its contents are only read after the next mouse move.
    fresh->pickRay = pickRay;
    if (CTerrainDocument* document = Document()) {
        // The old terrain stays whole in the history, for undo.
        document->ReplaceTerrain(std::move(fresh), imported);
    } else {
        delete terrain;
        terrain = fresh.release();
    }
    KrRenderer* renderer = KrRenderer::GetInstance();
    renderer->camera.Reset();
    renderer->UpdateView();
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
