#include "CTerrainDocument.h"

#include "CMainFrame.h"
#include "CPrompts.h"
#include "CTerrainMainView.h"
#include "KrAutoPaint.h"
#include "res/shell_resources.h"
#include "resource.h"

#include <QFileInfo>

#include <iterator>

namespace {

// What the status bar and the menu call each kind of step.
const char* const kStrokeNames[] = {"높이 브러시", "텍스쳐 칠하기"};
const char* const kAutoPaintName = "자동 칠하기";
const char* const kNewTerrainName = "새 지형";
const char* const kLoadName = "불러오기";
const char* const kImportName = "높이맵 가져오기";
const char* const kAddLayerName = "레이어 추가";
const char* const kRemoveLayerName = "레이어 제거";
const char* const kSwapLayersName = "레이어 순서 바꾸기";

// Steps across which the open file changes too.
bool ReplacesTerrain(KrStepKind kind) {
    return kind == KrStepKind::NewTerrain || kind == KrStepKind::LoadGrid;
}

} // namespace

CTerrainDocument* Document() {
    CMainFrame* frame = GetMainFrame();
    return frame ? frame->document.get() : nullptr;
}

CTerrainDocument::CTerrainDocument(CTerrainMainView* view) : view_(view) {
    history_.Attach(&view_->terrain);
    saved_ = history_.StateId();
}

CTerrainDocument::~CTerrainDocument() {
    history_.Detach();
}

bool CTerrainDocument::IsModified() const {
    return unstepped_ || history_.FileChangedSince(saved_);
}

void CTerrainDocument::PaintingChanged() {
    const bool was = IsModified();
    unstepped_ = true;
    if (!was)
        emit changed();
}

QString CTerrainDocument::Title() const {
    const QString name =
        filePath_.isEmpty() ? LoadResString(IDS_UNTITLED) : QFileInfo(filePath_).fileName();
    return (IsModified() ? QStringLiteral("*") : QString()) + name + QStringLiteral(" - ") +
           LoadResString(AFX_IDS_APP_TITLE);
}

bool CTerrainDocument::SaveTo(const QString& path, const QString& title) {
    FinishStroke();
    const QString written = view_->OnSaveMapVertexData(path, title);
    if (written.isEmpty())
        return false;
    filePath_ = written;
    saved_ = history_.StateId();
    unstepped_ = false;
    emit changed();
    return true;
}

bool CTerrainDocument::Save() {
    return SaveTo(filePath_, QStringLiteral("저장"));
}

bool CTerrainDocument::SaveAs() {
    return SaveTo(QString(), QStringLiteral("다른 이름으로 저장"));
}

bool CTerrainDocument::MaybeSave() {
    FinishStroke();
    if (!IsModified())
        return true;
    switch (Prompts().AskSave(view_->window(), LoadResString(AFX_IDS_APP_TITLE),
                              LoadResString(IDS_SAVE_CHANGES))) {
    case CPrompts::SaveAnswer::Save:
        return Save();
    case CPrompts::SaveAnswer::Discard:
        return true;
    case CPrompts::SaveAnswer::Cancel:
        break;
    }
    return false;
}

void CTerrainDocument::Load() {
    if (!MaybeSave())
        return;
    LoadFile(QString());
    emit terrainChanged(); // the map page shows the size whatever the result
}

bool CTerrainDocument::OpenAtStartUp(const QString& path) {
    if (!LoadFile(path))
        return false;
    history_.Clear(); // the default terrain before it is no state to go back to
    otherBinding_.clear();
    saved_ = history_.StateId();
    emit changed();
    return true;
}

// One step whatever the file holds: the heights, and the painting when the file beside them
// belongs to them; otherwise the painting stays and the user is told why. The grid goes into
// the terrain itself, into the device buffers it has where the size is the same, and the step
// keeps the grid it replaced.
bool CTerrainDocument::LoadFile(QString path) {
    CTerrainMainView::MapFileRead read;
    if (!view_->ReadMapFile(&path, &read))
        return false;
    FinishStroke();
    const Binding before{filePath_, saved_, unstepped_};
    std::string error;
    if (!history_.InstallGrid(KrStepKind::LoadGrid, read.grid, std::move(read.painting), kLoadName,
                              &error)) {
        view_->ReportLoadFailure(path, error);
        return false;
    }
    Recorded(before);
    filePath_ = path;
    saved_ = history_.StateId();
    unstepped_ = false;
    emit terrainChanged();
    emit changed();
    view_->ReportPainting(path, read.paintingLoad);
    return true;
}

// A whole-terrain step was just made: the state before it keeps its file.
void CTerrainDocument::Recorded(const Binding& before) {
    for (auto it = otherBinding_.begin(); it != otherBinding_.end();)
        it = history_.HasStep(it->first) ? std::next(it) : otherBinding_.erase(it);
    if (const KrStepInfo* step = history_.UndoStep(); step && ReplacesTerrain(step->kind))
        otherBinding_[step->id] = before;
}

void CTerrainDocument::ReplaceTerrain(std::unique_ptr<KrTerrain> fresh, bool imported) {
    FinishStroke();
    const Binding before{filePath_, saved_, unstepped_};
    history_.ReplaceTerrain(std::move(fresh), imported ? kImportName : kNewTerrainName);
    Recorded(before);
    filePath_.clear();
    saved_ = imported ? KrEditHistory::kNoState : history_.StateId();
    unstepped_ = false;
    emit terrainChanged();
    emit changed();
}

bool CTerrainDocument::ReplaceHeights(KrTerrainGrid& grid, std::string* error) {
    FinishStroke();
    if (!history_.InstallGrid(KrStepKind::ReplaceHeights, grid, nullptr, kImportName, error))
        return false;
    emit terrainChanged();
    emit changed();
    return true;
}

// Crossing a whole-terrain step goes to the other terrain's file, and back.
void CTerrainDocument::Moved(const KrStepInfo& step, bool undo, bool done) {
    if (!done) {
        emit message(QStringLiteral("%1: %2").arg(undo ? QStringLiteral("실행 취소할 수 없습니다")
                                                       : QStringLiteral("다시 실행할 수 없습니다"),
                                                  QString::fromStdString(step.name)));
        emit changed();
        return;
    }
    if (ReplacesTerrain(step.kind)) {
        Binding& other = otherBinding_[step.id];
        std::swap(other.path, filePath_);
        std::swap(other.saved, saved_);
        std::swap(other.unstepped, unstepped_);
    }
    emit message(
        LoadResString(undo ? IDS_UNDONE : IDS_REDONE).arg(QString::fromStdString(step.name)));
    emit terrainChanged();
    emit changed();
}

void CTerrainDocument::Undo() {
    FinishStroke();
    if (const KrStepInfo* step = history_.UndoStep()) {
        const KrStepInfo info = *step;
        Moved(info, true, history_.Undo());
    }
}

void CTerrainDocument::Redo() {
    FinishStroke();
    if (const KrStepInfo* step = history_.RedoStep()) {
        const KrStepInfo info = *step;
        Moved(info, false, history_.Redo());
    }
}

void CTerrainDocument::BeginStroke() {
    const KrTerrain* terrain = view_->terrain;
    const int tool = terrain ? terrain->activeTool : 0;
    history_.BeginStroke(tool == 1 ? kStrokeNames[1] : kStrokeNames[0]);
}

void CTerrainDocument::EndStroke() {
    history_.EndStroke();
    emit changed();
}

// Commands that arrive while the left button is still down end the stroke first.
void CTerrainDocument::FinishStroke() {
    if (!history_.StrokeOpen())
        return;
    if (KrTerrain* terrain = view_->terrain)
        terrain->editing = false;
    EndStroke();
}

bool CTerrainDocument::AutoPaintLayer(int layer, const KrAutoPaintRule& rule) {
    FinishStroke();
    KrTerrain* terrain = view_->terrain;
    if (!terrain)
        return false;
    history_.BeginStroke(kAutoPaintName);
    const bool done = terrain->AutoPaintLayer(layer, rule);
    history_.EndStroke();
    emit changed();
    return done;
}

bool CTerrainDocument::AddSplatLayer(int textureIndex) {
    const bool done = history_.AddSplatLayer(textureIndex, kAddLayerName);
    emit changed();
    return done;
}

bool CTerrainDocument::RemoveSplatLayer(int index) {
    const bool done = history_.RemoveSplatLayer(index, kRemoveLayerName);
    emit changed();
    return done;
}

bool CTerrainDocument::SwapSplatLayers(int a, int b) {
    const bool done = history_.SwapSplatLayers(a, b, kSwapLayersName);
    emit changed();
    return done;
}
