#include "KrEditHistory.h"

#include "KrTerrainGrid.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace {

constexpr size_t kAlphaMapBytes = size_t(ALPHA_MAP_SIZE) * ALPHA_MAP_SIZE * 4;

bool TestBit(const std::vector<uint64_t>& bits, int32_t i) {
    return (bits[static_cast<size_t>(i) >> 6] >> (i & 63)) & 1u;
}
void SetBit(std::vector<uint64_t>& bits, int32_t i) {
    bits[static_cast<size_t>(i) >> 6] |= uint64_t(1) << (i & 63);
}
void ClearBit(std::vector<uint64_t>& bits, int32_t i) {
    bits[static_cast<size_t>(i) >> 6] &= ~(uint64_t(1) << (i & 63));
}

bool SamePosition(const KrTerrainVertex& a, const KrTerrainVertex& b) {
    return std::memcmp(&a.x, &b.x, 3 * sizeof(float)) == 0;
}

// Widened by each run it is to hold.
RECT EmptyRect() {
    return RECT{std::numeric_limits<LONG>::max(), std::numeric_limits<LONG>::max(),
                std::numeric_limits<LONG>::min(), std::numeric_limits<LONG>::min()};
}

void Widen(RECT& r, int32_t x0, int32_t x1, int32_t y) {
    r.left = std::min<LONG>(r.left, x0);
    r.right = std::max<LONG>(r.right, x1 + 1);
    r.top = std::min<LONG>(r.top, y);
    r.bottom = std::max<LONG>(r.bottom, y + 1);
}

RECT Bounds(const KrTexelPatch& p) {
    RECT r = EmptyRect();
    for (const KrTexelRun& run : p.rows)
        Widen(r, run.x0, run.x1, run.y);
    return r;
}

bool IsEmpty(const RECT& r) {
    return r.left >= r.right || r.top >= r.bottom;
}

size_t PatchBytes(const KrTexelPatch& p) {
    size_t bytes = sizeof(KrTexelPatch) + p.rowOf.capacity() * sizeof(int16_t) +
                   p.rows.capacity() * sizeof(KrTexelRun);
    for (const KrTexelRun& run : p.rows)
        bytes += run.texels.capacity() * sizeof(uint32_t);
    return bytes;
}

KrTexelPatch* FindPatch(KrChangeSet& set, const KrTextureEntry* map) {
    for (KrTexelPatch& p : set.patches)
        if (p.map == map)
            return &p;
    return nullptr;
}

KrTexelPatch& AddPatch(KrChangeSet& set, KrTextureEntry* map) {
    KrTexelPatch p;
    p.map = map;
    p.rowOf.assign(ALPHA_MAP_SIZE, -1);
    set.patches.push_back(std::move(p));
    return set.patches.back();
}

// One locked rectangle of an alpha map, unlocked when it goes.
class MapLock {
public:
    MapLock() = default;
    MapLock(const MapLock&) = delete;
    MapLock& operator=(const MapLock&) = delete;
    ~MapLock() { Unlock(); }

    bool Lock(KrTextureEntry* map, const RECT& rect, DWORD flags) {
        if (!map || !map->texture || IsEmpty(rect))
            return false;
        if (FAILED(map->texture->LockRect(0, &locked_, &rect, flags)))
            return false;
        texture_ = map->texture;
        rect_ = rect;
        return true;
    }
    void Unlock() {
        if (texture_)
            texture_->UnlockRect(0);
        texture_ = nullptr;
    }
    uint32_t* At(int32_t x, int32_t y) const {
        return reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked_.pBits) +
                                           static_cast<ptrdiff_t>(y - rect_.top) * locked_.Pitch +
                                           4 * static_cast<ptrdiff_t>(x - rect_.left));
    }

private:
    IDirect3DTexture9* texture_ = nullptr;
    D3DLOCKED_RECT locked_{};
    RECT rect_{};
};

void DeleteEntry(KrTextureEntry* entry) {
    if (!entry)
        return;
    if (entry->texture)
        entry->texture->Release();
    delete entry;
}

bool IsLayerKind(KrStepKind kind) {
    return kind == KrStepKind::AddLayer || kind == KrStepKind::RemoveLayer ||
           kind == KrStepKind::SwapLayers;
}

bool IsGridKind(KrStepKind kind) {
    return kind == KrStepKind::LoadGrid || kind == KrStepKind::ReplaceHeights;
}

} // namespace

size_t KrChangeSet::Bytes() const {
    size_t bytes =
        vertices.capacity() * sizeof(KrVertexRecord) + patches.capacity() * sizeof(KrTexelPatch);
    for (const KrTexelPatch& p : patches)
        bytes += PatchBytes(p) - sizeof(KrTexelPatch);
    return bytes;
}

struct KrEditHistory::Step {
    KrStepInfo info{};
    KrChangeSet delta;                // strokes and layer steps
    std::unique_ptr<KrTerrain> other; // the other terrain object, or the other grid
    bool painting = false;            // a grid step that exchanges the painting too
    // Layer steps: the indexes, and the layer with its alpha map while the step holds them
    // (the map is then owned here).
    int32_t a = -1, b = -1;
    KrSplatLayer layer{1.0f, -1};
    KrTextureEntry* heldMap = nullptr;
    int32_t otherSelected = -1;
    const KrTerrain* owner = nullptr;
    size_t bytes = 0;

    Step() = default;
    Step(const Step&) = delete;
    Step& operator=(const Step&) = delete;
    ~Step() { DeleteEntry(heldMap); }
};

KrEditHistory::KrEditHistory(size_t byteLimit) : limit_(byteLimit) {
    baseId_ = NextId();
}

KrEditHistory::~KrEditHistory() {
    Detach();
}

void KrEditHistory::Attach(KrTerrain** slot) {
    Detach();
    slot_ = slot;
    Rebase();
}

void KrEditHistory::Detach() {
    if (slot_ && current_ && *slot_ == current_)
        current_->history = nullptr;
    steps_.clear();
    position_ = 0;
    strokeOpen_ = false;
    current_ = nullptr;
    gridVertices_ = nullptr;
    gridCount_ = 0;
    ResetOpen();
    slot_ = nullptr;
    capturing_ = false;
    capturingTexels_ = false;
}

void KrEditHistory::Clear() {
    if (slot_)
        Rebase();
}

void KrEditHistory::SetByteLimit(size_t bytes) {
    limit_ = bytes;
    EnforceLimit();
    UpdateCapturing();
}

const KrStepInfo* KrEditHistory::UndoStep() const {
    return CanUndo() ? &steps_[position_ - 1]->info : nullptr;
}

const KrStepInfo* KrEditHistory::RedoStep() const {
    return CanRedo() ? &steps_[position_]->info : nullptr;
}

uint64_t KrEditHistory::StateId() const {
    return position_ > 0 ? steps_[position_ - 1]->info.id : baseId_;
}

bool KrEditHistory::FileChangedSince(uint64_t stateId) const {
    size_t at = steps_.size() + 1;
    if (stateId == baseId_)
        at = 0;
    for (size_t i = 0; i < steps_.size() && at > steps_.size(); ++i)
        if (steps_[i]->info.id == stateId)
            at = i + 1;
    if (at > steps_.size())
        return true;
    for (size_t n = std::min(at, position_) + 1; n <= std::max(at, position_); ++n)
        if (steps_[n - 1]->info.changesFile)
            return true;
    return false;
}

bool KrEditHistory::HasStep(uint64_t id) const {
    for (const auto& step : steps_)
        if (step->info.id == id)
            return true;
    return false;
}

size_t KrEditHistory::HeldBytes() const {
    size_t bytes = openBytes_;
    for (const auto& step : steps_)
        bytes += step->bytes;
    return bytes;
}

size_t KrEditHistory::StepBytes(size_t index) const {
    return index < steps_.size() ? steps_[index]->bytes : 0;
}

bool KrEditHistory::IsDelta(size_t stepNumber) const {
    if (stepNumber == 0 || stepNumber > steps_.size())
        return false;
    const KrStepKind kind = steps_[stepNumber - 1]->info.kind;
    return kind == KrStepKind::Stroke || IsLayerKind(kind);
}

bool KrEditHistory::KeepsPainting(size_t stepNumber) const {
    if (stepNumber == 0 || stepNumber > steps_.size())
        return false;
    const Step& step = *steps_[stepNumber - 1];
    return IsGridKind(step.info.kind) && !step.painting;
}

// Only a change set that some step may take in needs capturing: beside whole-terrain steps
// the kept objects hold their own state, so frames there cost nothing. A step that swaps only
// the grid keeps its grids whole, but the painting stays in the terrain: beside it texels
// are captured, vertices not.
void KrEditHistory::UpdateCapturing() {
    const bool live = !broken_ && current_ && current_->vertices;
    capturing_ = live && (strokeOpen_ || IsDelta(position_) || IsDelta(position_ + 1));
    capturingTexels_ =
        capturing_ || (live && (KeepsPainting(position_) || KeepsPainting(position_ + 1)));
    if (!capturingTexels_ && !open_.Empty())
        ResetOpen();
}

// A grid or terrain replaced without the history leaves its steps nothing to apply to.
void KrEditHistory::CheckGrid() {
    KrTerrain* t = Current();
    if (t != current_ || (t && (t->vertices != gridVertices_ || t->info.numVertices != gridCount_)))
        Rebase();
}

void KrEditHistory::Rebase() {
    steps_.clear();
    position_ = 0;
    baseId_ = NextId();
    broken_ = false;
    AdoptCurrent();
    UpdateCapturing();
}

// The slot's terrain, or its grid, has changed: captures start afresh on it.
void KrEditHistory::AdoptCurrent() {
    ResetOpen(); // with the old grid's size, which its records' indexes fit
    current_ = Current();
    if (current_)
        current_->history = this;
    gridVertices_ = current_ ? current_->vertices : nullptr;
    gridCount_ = current_ && current_->vertices ? current_->info.numVertices : 0;
    ResetOpen();
}

// Something could not be recorded: nothing kept can be undone exactly any more.
void KrEditHistory::Break() {
    steps_.clear();
    position_ = 0;
    baseId_ = NextId();
    ResetOpen();
    broken_ = true;
    capturing_ = false;
    capturingTexels_ = false;
}

void KrEditHistory::ResetOpen() {
    for (const KrVertexRecord& r : open_.vertices)
        ClearBit(openBits_, r.index);
    open_ = KrChangeSet{};
    openBytes_ = 0;
    const size_t words = (static_cast<size_t>(gridCount_) + 63) / 64;
    if (openBits_.size() != words) {
        try {
            openBits_.assign(words, 0);
            scratch_.assign(words, 0);
        } catch (const std::bad_alloc&) {
            openBits_.clear();
            scratch_.clear();
            gridCount_ = 0;
            broken_ = true;
            capturing_ = false;
            capturingTexels_ = false;
        }
    }
}

// The current position is left: what changed while there goes to both steps beside it.
void KrEditHistory::Leave() {
    if (broken_) {
        Rebase();
        return;
    }
    if (!open_.Empty()) {
        bool ok = true;
        if (IsDelta(position_) || KeepsPainting(position_))
            ok = Merge(open_, *steps_[position_ - 1]);
        if (ok && (IsDelta(position_ + 1) || KeepsPainting(position_ + 1)))
            ok = Merge(open_, *steps_[position_]);
        if (!ok) {
            Rebase();
            return;
        }
    }
    ResetOpen();
    EnforceLimit();
}

// Adds to step what from holds and the step lacks. Texels between a run of each in one row
// have not changed since either was taken, so they are read from the map. A grid step keeps
// its grids whole and takes texels only.
bool KrEditHistory::Merge(KrChangeSet& from, Step& step) {
    KrChangeSet& into = step.delta;
    const size_t had = into.vertices.size();
    try {
        if (!from.vertices.empty() && !IsGridKind(step.info.kind)) {
            for (const KrVertexRecord& r : into.vertices)
                SetBit(scratch_, r.index);
            size_t extra = 0;
            for (const KrVertexRecord& r : from.vertices)
                extra += !TestBit(scratch_, r.index);
            into.vertices.reserve(had + extra);
            for (const KrVertexRecord& r : from.vertices)
                if (!TestBit(scratch_, r.index))
                    into.vertices.push_back(r);
            for (size_t i = 0; i < had; ++i)
                ClearBit(scratch_, into.vertices[i].index);
        }
        for (const KrTexelPatch& p : from.patches) {
            KrTexelPatch* q = FindPatch(into, p.map);
            if (!q) {
                into.patches.push_back(p);
                continue;
            }
            RECT gaps = EmptyRect();
            for (const KrTexelRun& r : p.rows) {
                const int16_t s = q->rowOf[static_cast<size_t>(r.y)];
                if (s >= 0) {
                    const KrTexelRun& qr = q->rows[static_cast<size_t>(s)];
                    if (r.x0 < qr.x0 || r.x1 > qr.x1)
                        Widen(gaps, std::min(r.x0, qr.x0), std::max(r.x1, qr.x1), r.y);
                }
            }
            MapLock lock;
            if (!IsEmpty(gaps) && !lock.Lock(p.map, gaps, D3DLOCK_READONLY))
                return false;
            for (const KrTexelRun& r : p.rows) {
                const int16_t s = q->rowOf[static_cast<size_t>(r.y)];
                if (s < 0) {
                    q->rowOf[static_cast<size_t>(r.y)] = static_cast<int16_t>(q->rows.size());
                    q->rows.push_back(r);
                    continue;
                }
                KrTexelRun& qr = q->rows[static_cast<size_t>(s)];
                if (r.x0 >= qr.x0 && r.x1 <= qr.x1)
                    continue;
                const int32_t lo = std::min(r.x0, qr.x0), hi = std::max(r.x1, qr.x1);
                std::vector<uint32_t> texels(static_cast<size_t>(hi - lo + 1));
                std::memcpy(texels.data(), lock.At(lo, r.y), texels.size() * 4);
                std::copy(r.texels.begin(), r.texels.end(), texels.begin() + (r.x0 - lo));
                std::copy(qr.texels.begin(), qr.texels.end(), texels.begin() + (qr.x0 - lo));
                qr.texels = std::move(texels);
                qr.x0 = lo;
                qr.x1 = hi;
            }
        }
    } catch (const std::bad_alloc&) {
        for (size_t i = 0; i < std::min(had, into.vertices.size()); ++i)
            ClearBit(scratch_, into.vertices[i].index);
        return false;
    }
    RecountStep(step);
    return true;
}

void KrEditHistory::RecountStep(Step& step) {
    step.bytes = sizeof(Step) + step.info.name.capacity() + step.delta.Bytes() +
                 (step.other ? step.other->HeldBytes() : 0) + (step.heldMap ? kAlphaMapBytes : 0);
}

void KrEditHistory::DropRedo() {
    steps_.resize(position_);
}

void KrEditHistory::Push(std::unique_ptr<Step> step) {
    DropRedo();
    RecountStep(*step);
    steps_.push_back(std::move(step));
    position_ = steps_.size();
    EnforceLimit();
    UpdateCapturing();
}

// Drops one step: the oldest applied one, or else the newest that could be redone.
bool KrEditHistory::MakeRoom() {
    if (steps_.empty())
        return false;
    if (position_ > 0) {
        baseId_ = steps_.front()->info.id;
        steps_.erase(steps_.begin());
        --position_;
    } else {
        steps_.pop_back();
    }
    return true;
}

void KrEditHistory::EnforceLimit() {
    while (HeldBytes() > limit_ && MakeRoom()) {
    }
    if (openBytes_ > limit_)
        Break();
    else
        UpdateCapturing();
}

void KrEditHistory::BeginStroke(std::string name) {
    if (!slot_)
        return;
    if (strokeOpen_)
        EndStroke();
    CheckGrid();
    Leave();
    strokeOpen_ = true;
    strokeName_ = std::move(name);
    UpdateCapturing();
}

// Whether the tools changed anything since the stroke began (normals alone do not count:
// they drift by themselves). Heights and texels are both saved, so either changes the file.
bool KrEditHistory::ToolChanged(bool* changesFile) {
    *changesFile = false;
    for (const KrVertexRecord& r : open_.vertices)
        if (!SamePosition(r.vertex, current_->vertices[r.index])) {
            *changesFile = true;
            return true;
        }
    for (const KrTexelPatch& p : open_.patches) {
        MapLock lock;
        if (p.rows.empty() || !lock.Lock(p.map, Bounds(p), D3DLOCK_READONLY))
            continue;
        for (const KrTexelRun& r : p.rows)
            if (std::memcmp(r.texels.data(), lock.At(r.x0, r.y), r.texels.size() * 4) != 0) {
                *changesFile = true;
                return true;
            }
    }
    return false;
}

bool KrEditHistory::EndStroke() {
    if (!strokeOpen_)
        return false;
    strokeOpen_ = false;
    CheckGrid();
    if (broken_) {
        Rebase();
        return false;
    }
    bool changesFile = false;
    if (!current_ || !ToolChanged(&changesFile)) {
        // What the frames changed meanwhile stays open for the steps beside this position.
        UpdateCapturing();
        return false;
    }
    try {
        auto step = std::make_unique<Step>();
        step->info = KrStepInfo{NextId(), KrStepKind::Stroke, strokeName_, changesFile};
        for (const KrVertexRecord& r : open_.vertices)
            ClearBit(openBits_, r.index);
        step->delta = std::move(open_);
        open_ = KrChangeSet{};
        openBytes_ = 0;
        step->delta.vertices.shrink_to_fit();
        Push(std::move(step));
    } catch (const std::bad_alloc&) {
        Rebase();
        return false;
    }
    return true;
}

void KrEditHistory::ReplaceTerrain(std::unique_ptr<KrTerrain> fresh, std::string name) {
    if (!slot_ || !fresh)
        return;
    if (strokeOpen_)
        EndStroke();
    CheckGrid();
    Leave();
    std::unique_ptr<Step> step;
    try {
        step = std::make_unique<Step>();
        step->info = KrStepInfo{NextId(), KrStepKind::NewTerrain, std::move(name), true};
        steps_.reserve(position_ + 1);
    } catch (const std::bad_alloc&) {
        step.reset();
    }
    KrTerrain* old = *slot_;
    *slot_ = fresh.release();
    if (old) {
        old->history = nullptr;
        old->editing = false;
        old->pickRay = nullptr;
        old->ReleaseGridBuffers();
    }
    if (!step || !old) {
        delete old;
        Rebase();
        return;
    }
    step->other.reset(old);
    AdoptCurrent();
    Push(std::move(step));
}

void KrEditHistory::ReplaceGrid(std::unique_ptr<KrTerrain> loaded, std::string name,
                                bool withPainting) {
    SwapInGrid(std::move(loaded), KrStepKind::LoadGrid, std::move(name), withPainting);
}

void KrEditHistory::ReplaceHeights(std::unique_ptr<KrTerrain> regridded, std::string name) {
    SwapInGrid(std::move(regridded), KrStepKind::ReplaceHeights, std::move(name), false);
}

void KrEditHistory::SwapInGrid(std::unique_ptr<KrTerrain> grid, KrStepKind kind, std::string name,
                               bool withPainting) {
    if (!slot_ || !*slot_ || !grid)
        return;
    if (strokeOpen_)
        EndStroke();
    CheckGrid();
    Leave();
    std::unique_ptr<Step> step;
    try {
        step = std::make_unique<Step>();
        step->info = KrStepInfo{NextId(), kind, std::move(name), true};
        step->painting = withPainting;
        steps_.reserve(position_ + 1);
    } catch (const std::bad_alloc&) {
        step.reset();
    }
    (*slot_)->SwapGrid(*grid);
    if (withPainting)
        (*slot_)->SwapPainting(*grid);
    grid->ReleaseGridBuffers();
    if (!step) {
        grid.reset();
        Rebase();
        return;
    }
    step->other = std::move(grid);
    AdoptCurrent();
    Push(std::move(step));
}

bool KrEditHistory::InstallGrid(KrStepKind kind, KrTerrainGrid& grid,
                                std::unique_ptr<KrTerrain> painting, std::string name,
                                std::string* error) {
    KrTerrain* t = Current();
    if (!t || !IsGridKind(kind)) {
        if (error)
            *error = "격자를 올릴 지형이 없습니다";
        return false;
    }
    if (strokeOpen_)
        EndStroke();
    CheckGrid();
    Leave();
    std::unique_ptr<Step> step;
    std::unique_ptr<KrTerrain> kept;
    try {
        step = std::make_unique<Step>();
        step->info = KrStepInfo{NextId(), kind, std::move(name), true};
        step->painting = painting != nullptr;
        steps_.reserve(position_ + 1);
        kept = painting ? std::move(painting) : std::make_unique<KrTerrain>();
    } catch (const std::bad_alloc&) {
        step.reset();
        kept.reset();
    }
    // Only the open change set has moved (into the steps beside), so a refusal leaves the
    // history as it was.
    if (!t->InstallGrid(grid, error)) {
        UpdateCapturing();
        return false;
    }
    if (!step || !kept) {
        Rebase();
        return true;
    }
    kept->device = t->device;
    kept->TakeGridArrays(grid);
    if (step->painting)
        t->SwapPainting(*kept);
    step->other = std::move(kept);
    AdoptCurrent();
    Push(std::move(step));
    return true;
}

bool KrEditHistory::AddSplatLayer(int32_t textureIndex, std::string name) {
    KrTerrain* t = Current();
    if (!t)
        return false;
    if (strokeOpen_)
        EndStroke();
    CheckGrid();
    Leave();
    const int32_t selected = t->selectedLayer;
    if (!t->AddSplatLayer(textureIndex))
        return false;
    try {
        auto step = std::make_unique<Step>();
        step->info = KrStepInfo{NextId(), KrStepKind::AddLayer, std::move(name), true};
        step->a = static_cast<int32_t>(t->splatLayers.size()) - 1;
        step->otherSelected = selected;
        step->owner = t;
        steps_.reserve(position_ + 1);
        Push(std::move(step));
    } catch (const std::bad_alloc&) {
        Rebase();
    }
    return true;
}

bool KrEditHistory::RemoveSplatLayer(int32_t index, std::string name) {
    KrTerrain* t = Current();
    if (!t || index < 0 || static_cast<size_t>(index) >= t->splatLayers.size())
        return false;
    if (t->splatLayers.size() != t->alphaMaps.size()) {
        // Lists out of step cannot be put back exactly: removed for good.
        const bool removed = t->RemoveSplatLayer(index);
        Rebase();
        return removed;
    }
    if (strokeOpen_)
        EndStroke();
    CheckGrid();
    Leave();
    std::unique_ptr<Step> step;
    try {
        step = std::make_unique<Step>();
        steps_.reserve(position_ + 1);
    } catch (const std::bad_alloc&) {
        // Nothing can keep the layer: remove it for good.
        Rebase();
        return t->RemoveSplatLayer(index);
    }
    step->info = KrStepInfo{NextId(), KrStepKind::RemoveLayer, std::move(name), true};
    step->a = index;
    step->owner = t;
    step->layer = t->splatLayers[static_cast<size_t>(index)];
    step->heldMap = t->alphaMaps[static_cast<size_t>(index)];
    step->otherSelected = t->selectedLayer;
    t->splatLayers.erase(t->splatLayers.begin() + index);
    t->alphaMaps.erase(t->alphaMaps.begin() + index);
    t->selectedLayer = -1;
    Push(std::move(step));
    return true;
}

bool KrEditHistory::SwapSplatLayers(int32_t a, int32_t b, std::string name) {
    KrTerrain* t = Current();
    if (!t)
        return false;
    if (strokeOpen_)
        EndStroke();
    CheckGrid();
    Leave();
    if (!t->SwapSplatLayers(a, b))
        return false;
    try {
        auto step = std::make_unique<Step>();
        step->info = KrStepInfo{NextId(), KrStepKind::SwapLayers, std::move(name), true};
        step->a = a;
        step->b = b;
        step->owner = t;
        step->otherSelected = t->selectedLayer;
        steps_.reserve(position_ + 1);
        Push(std::move(step));
    } catch (const std::bad_alloc&) {
        Rebase();
    }
    return true;
}

void KrEditHistory::TextureRemoved(const KrTerrain& t, int32_t index) {
    const auto follow = [&](Step& step) {
        if (!step.heldMap || step.owner != &t)
            return;
        int32_t& texture = step.layer.textureIndex;
        if (texture == index)
            texture = -1;
        else if (texture > index)
            --texture;
    };
    // Beyond a step that brings another painting or terrain, kept layers name another list.
    const auto otherPainting = [](const Step& step) {
        return step.info.kind == KrStepKind::NewTerrain || step.painting;
    };
    for (size_t n = position_; n > 0 && !otherPainting(*steps_[n - 1]); --n)
        follow(*steps_[n - 1]);
    for (size_t n = position_; n < steps_.size() && !otherPainting(*steps_[n]); ++n)
        follow(*steps_[n]);
}

bool KrEditHistory::Undo() {
    if (!slot_)
        return false;
    if (strokeOpen_)
        EndStroke();
    CheckGrid();
    Leave();
    if (!CanUndo())
        return false;
    Step& step = *steps_[position_ - 1];
    if (!Apply(step, true)) {
        UpdateCapturing();
        return false;
    }
    --position_;
    RecountStep(step);
    ResetOpen();
    EnforceLimit();
    return true;
}

bool KrEditHistory::Redo() {
    if (!slot_)
        return false;
    if (strokeOpen_)
        EndStroke();
    CheckGrid();
    Leave();
    if (!CanRedo())
        return false;
    Step& step = *steps_[position_];
    if (!Apply(step, false)) {
        UpdateCapturing();
        return false;
    }
    ++position_;
    RecountStep(step);
    ResetOpen();
    EnforceLimit();
    return true;
}

bool KrEditHistory::Apply(Step& step, bool undo) {
    switch (step.info.kind) {
    case KrStepKind::Stroke:
        return Exchange(step.delta);
    case KrStepKind::NewTerrain:
        return SwapObject(step);
    case KrStepKind::LoadGrid:
    case KrStepKind::ReplaceHeights:
        return SwapGridWith(step);
    default:
        break;
    }
    KrTerrain* t = current_;
    const size_t count = t->splatLayers.size();
    if (count != t->alphaMaps.size())
        return false;
    const auto valid = [](int32_t i, size_t size) {
        return i >= 0 && static_cast<size_t>(i) < size;
    };
    // Add undone and remove redone take the layer out; the other two put it back.
    const bool take = (step.info.kind == KrStepKind::AddLayer) == undo;
    if (step.info.kind == KrStepKind::SwapLayers) {
        if (!valid(step.a, count) || !valid(step.b, count))
            return false;
    } else if (take ? (!valid(step.a, count) || step.heldMap)
                    : (!valid(step.a, count + 1) || !step.heldMap)) {
        return false;
    }
    if (!Exchange(step.delta))
        return false;
    const size_t a = static_cast<size_t>(step.a);
    if (step.info.kind == KrStepKind::SwapLayers) {
        const size_t b = static_cast<size_t>(step.b);
        std::swap(t->splatLayers[a], t->splatLayers[b]);
        std::swap(t->alphaMaps[a], t->alphaMaps[b]);
    } else if (take) {
        step.layer = t->splatLayers[a];
        step.heldMap = t->alphaMaps[a];
        t->splatLayers.erase(t->splatLayers.begin() + step.a);
        t->alphaMaps.erase(t->alphaMaps.begin() + step.a);
    } else {
        // Both lists have room: nothing else can fail once the first insert is made.
        t->splatLayers.reserve(count + 1);
        t->alphaMaps.reserve(count + 1);
        t->splatLayers.insert(t->splatLayers.begin() + step.a, step.layer);
        t->alphaMaps.insert(t->alphaMaps.begin() + step.a, step.heldMap);
        step.heldMap = nullptr;
    }
    std::swap(step.otherSelected, t->selectedLayer);
    if (!valid(t->selectedLayer, t->alphaMaps.size()))
        t->selectedLayer = -1;
    return true;
}

// Swaps the set's records with the terrain's, so the set then holds the side just left.
bool KrEditHistory::Exchange(KrChangeSet& set) {
    KrTerrain* t = current_;
    std::vector<MapLock> locks(set.patches.size());
    for (size_t i = 0; i < set.patches.size(); ++i) {
        const KrTexelPatch& p = set.patches[i];
        if (!p.rows.empty() && !locks[i].Lock(p.map, Bounds(p), 0))
            return false; // the locks made so far go with their vector, unchanged
    }
    for (size_t i = 0; i < set.patches.size(); ++i)
        for (KrTexelRun& r : set.patches[i].rows)
            std::swap_ranges(r.texels.begin(), r.texels.end(), locks[i].At(r.x0, r.y));
    locks.clear();

    // Marked run by run: records taken from one brush row lie side by side.
    int32_t runFirst = 0, runLast = -2;
    for (KrVertexRecord& r : set.vertices) {
        std::swap(r.vertex, t->vertices[r.index]);
        if (r.index != runLast + 1) {
            if (runLast >= runFirst)
                t->MarkVerticesChanged(runFirst, runLast);
            runFirst = r.index;
        }
        runLast = r.index;
    }
    if (runLast >= runFirst)
        t->MarkVerticesChanged(runFirst, runLast);
    t->FlushVertexUploads();
    return true;
}

bool KrEditHistory::SwapObject(Step& step) {
    KrTerrain* incoming = step.other.get();
    KrTerrain* outgoing = current_;
    if (!incoming->RestoreGridBuffers())
        return false;
    // Settings are no part of a step: the terrain coming back takes the present ones.
    incoming->TakeSettingsFrom(*outgoing);
    step.other.release();
    step.other.reset(outgoing);
    *slot_ = incoming;
    outgoing->history = nullptr;
    outgoing->editing = false;
    outgoing->pickRay = nullptr;
    outgoing->ReleaseGridBuffers();
    AdoptCurrent();
    return true;
}

bool KrEditHistory::SwapGridWith(Step& step) {
    KrTerrain* other = step.other.get();
    if (!other->RestoreGridBuffers())
        return false;
    // Texels of the painting that stays, as they were on the other side.
    if (!Exchange(step.delta)) {
        other->ReleaseGridBuffers();
        return false;
    }
    current_->SwapGrid(*other);
    if (step.painting)
        current_->SwapPainting(*other);
    other->ReleaseGridBuffers();
    AdoptCurrent();
    return true;
}

bool KrEditHistory::ReserveVertices(size_t more) {
    std::vector<KrVertexRecord>& v = open_.vertices;
    const size_t need = v.size() + more;
    if (need <= v.capacity())
        return true;
    const size_t before = v.capacity();
    size_t want = std::max(need, before * 2 + 64);
    for (;;) {
        try {
            v.reserve(want);
            break;
        } catch (const std::bad_alloc&) {
            // Less headroom first, then older steps.
            if (want > need)
                want = need;
            else if (!MakeRoom()) {
                Break();
                return false;
            }
        }
    }
    openBytes_ += (v.capacity() - before) * sizeof(KrVertexRecord);
    if (HeldBytes() > limit_)
        EnforceLimit();
    return capturing_;
}

void KrEditHistory::CaptureVerticesSlow(const KrTerrain& t, int32_t first, int32_t last) {
    if (&t != current_)
        return;
    if (t.vertices != gridVertices_ || t.info.numVertices != gridCount_) {
        Rebase();
        if (!capturing_)
            return;
    }
    first = std::max(first, 0);
    last = std::min(last, gridCount_ - 1);
    // Room for the whole run: a drag mostly meets a few new vertices a row, and the
    // vector grows by doubling whatever is asked.
    if (first > last || !ReserveVertices(static_cast<size_t>(last - first + 1)))
        return;
    // A word at a time: a drag's rows are mostly kept already but for a vertex or two.
    const int32_t firstWord = first >> 6, lastWord = last >> 6;
    for (int32_t w = firstWord; w <= lastWord; ++w) {
        uint64_t mask = ~uint64_t(0);
        if (w == firstWord)
            mask &= ~uint64_t(0) << (first & 63);
        if (w == lastWord)
            mask &= ~uint64_t(0) >> (63 - (last & 63));
        uint64_t& word = openBits_[static_cast<size_t>(w)];
        uint64_t missing = ~word & mask;
        word |= missing;
        while (missing) {
            const int32_t i = (w << 6) + std::countr_zero(missing);
            missing &= missing - 1;
            open_.vertices.push_back(KrVertexRecord{i, t.vertices[i]});
        }
    }
}

void KrEditHistory::CaptureNormalSlow(const KrTerrain& t, int32_t index, float nx, float ny,
                                      float nz) {
    if (&t != current_ || t.vertices != gridVertices_ || index < 0 || index >= gridCount_ ||
        TestBit(openBits_, index) || !ReserveVertices(1))
        return;
    KrTerrainVertex v = t.vertices[index];
    v.nx = nx;
    v.ny = ny;
    v.nz = nz;
    SetBit(openBits_, index);
    open_.vertices.push_back(KrVertexRecord{index, v});
}

// Each texel row keeps one run: a run that grows takes in the texels between, which have not
// changed since the set was opened (every change is captured first).
void KrEditHistory::CaptureTexelsSlow(const KrTerrain& t, KrTextureEntry* map, int32_t x0,
                                      int32_t y0, int32_t x1, int32_t y1) {
    if (&t != current_ || !map || !map->texture)
        return;
    x0 = std::max(x0, 0);
    y0 = std::max(y0, 0);
    x1 = std::min(x1, ALPHA_MAP_SIZE - 1);
    y1 = std::min(y1, ALPHA_MAP_SIZE - 1);
    if (x0 > x1 || y0 > y1)
        return;
    try {
        KrTexelPatch* p = FindPatch(open_, map);
        RECT missing = EmptyRect();
        for (int32_t y = y0; y <= y1; ++y) {
            const int16_t s = p ? p->rowOf[static_cast<size_t>(y)] : int16_t(-1);
            if (s < 0) {
                Widen(missing, x0, x1, y);
                continue;
            }
            const KrTexelRun& r = p->rows[static_cast<size_t>(s)];
            if (x0 < r.x0)
                Widen(missing, x0, r.x0 - 1, y);
            if (x1 > r.x1)
                Widen(missing, r.x1 + 1, x1, y);
        }
        if (IsEmpty(missing))
            return;
        const size_t before = p ? PatchBytes(*p) : 0;
        if (!p)
            p = &AddPatch(open_, map);
        MapLock lock;
        if (!lock.Lock(map, missing, D3DLOCK_READONLY)) {
            Break();
            return;
        }
        for (int32_t y = y0; y <= y1; ++y) {
            int16_t& s = p->rowOf[static_cast<size_t>(y)];
            if (s < 0) {
                KrTexelRun run{y, x0, x1,
                               std::vector<uint32_t>(lock.At(x0, y), lock.At(x1 + 1, y))};
                p->rows.push_back(std::move(run));
                s = static_cast<int16_t>(p->rows.size() - 1);
                continue;
            }
            KrTexelRun& r = p->rows[static_cast<size_t>(s)];
            if (x0 >= r.x0 && x1 <= r.x1)
                continue;
            const int32_t lo = std::min(x0, r.x0), hi = std::max(x1, r.x1);
            std::vector<uint32_t> texels;
            texels.reserve(static_cast<size_t>(hi - lo + 1));
            if (lo < r.x0)
                texels.insert(texels.end(), lock.At(lo, y), lock.At(r.x0, y));
            texels.insert(texels.end(), r.texels.begin(), r.texels.end());
            if (hi > r.x1)
                texels.insert(texels.end(), lock.At(r.x1 + 1, y), lock.At(hi + 1, y));
            r.texels = std::move(texels);
            r.x0 = lo;
            r.x1 = hi;
        }
        openBytes_ += PatchBytes(*p) - before;
    } catch (const std::bad_alloc&) {
        Break();
        return;
    }
    if (HeldBytes() > limit_)
        EnforceLimit();
}
