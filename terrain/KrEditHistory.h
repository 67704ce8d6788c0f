// The edit history: steps that undo and redo exactly, bit for bit, held within a bound of
// memory.
//
// A step that changes part of the terrain (a stroke, a layer change) keeps a change set:
// the vertex records and alpha-map texels it touched, as the side of the step that is not
// showing holds them. Undo and redo exchange the set with the terrain, so one copy serves
// both ways. A step that replaces the whole terrain keeps the other object whole; one that
// replaces the grid (and, for a load, the painting) keeps the other grid (and painting).
//
// The normal pass goes on changing normals for a few frames after an edit, and wherever the
// camera shows ground whose normals have not settled. So that frames between history actions
// cannot spoil an undo, every change after a history action is captured in an open change set
// (first content seen); the next action folds it into both steps beside the current position,
// where they lack it. Each position thus comes back exactly as it was when it was last left.
// A load's step takes in texels only: its other grid holds its own vertices, but both sides
// share the object's alpha maps.
#pragma once

#include "KrTerrain.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct KrVertexRecord {
    int32_t index;
    KrTerrainVertex vertex;
};

// Columns x0..x1 of one texel row of an alpha map.
struct KrTexelRun {
    int32_t y, x0, x1;
    std::vector<uint32_t> texels;
};

struct KrTexelPatch {
    KrTextureEntry* map = nullptr;
    std::vector<KrTexelRun> rows;
    std::vector<int16_t> rowOf; // per texel row: its index in rows, or -1
};

// Vertex records (one per index, in no order) and texel runs (one per row and map).
struct KrChangeSet {
    std::vector<KrVertexRecord> vertices;
    std::vector<KrTexelPatch> patches;

    bool Empty() const { return vertices.empty() && patches.empty(); }
    size_t Bytes() const;
};

enum class KrStepKind {
    Stroke,
    NewTerrain,
    LoadGrid,
    AddLayer,
    RemoveLayer,
    SwapLayers,
    ReplaceHeights
};

struct KrStepInfo {
    uint64_t id;
    KrStepKind kind;
    std::string name; // shown to the user
    // Whether the step changes what is saved: the vertex data or the painting beside them.
    bool changesFile;
};

class KrEditHistory {
public:
    static constexpr size_t kDefaultByteLimit = size_t(1) << 30;
    // Never the id of a state: the files of a terrain that was never saved.
    static constexpr uint64_t kNoState = 0;

    explicit KrEditHistory(size_t byteLimit = kDefaultByteLimit);
    ~KrEditHistory();
    KrEditHistory(const KrEditHistory&) = delete;
    KrEditHistory& operator=(const KrEditHistory&) = delete;

    // slot holds the terrain being edited (the 3D view's pointer); whole-terrain steps
    // exchange the object in it. Forgets every step.
    void Attach(KrTerrain** slot);
    void Detach();
    // Forgets every step; the present terrain becomes the first state.
    void Clear();

    // Everything the tools change between these two calls is one step; a stroke that changes
    // no height and no texel leaves no step.
    void BeginStroke(std::string name);
    bool EndStroke();
    bool StrokeOpen() const { return strokeOpen_; }

    // The terrain in the slot is replaced by fresh; the step keeps the old object.
    void ReplaceTerrain(std::unique_ptr<KrTerrain> fresh, std::string name);
    // The terrain in the slot takes the grid of loaded (one made for it, for example by a file
    // load), and with withPainting also its painting; otherwise its own textures and layers
    // stay. The step keeps what the terrain gave up.
    void ReplaceGrid(std::unique_ptr<KrTerrain> loaded, std::string name,
                     bool withPainting = false);
    // The terrain in the slot takes the grid of regridded, a copy of its own grid with other
    // heights (CopyGridWithHeights). The step keeps the old grid.
    void ReplaceHeights(std::unique_ptr<KrTerrain> regridded, std::string name);
    // The same two steps (kind LoadGrid or ReplaceHeights) for a grid prepared without the
    // device: the terrain in the slot installs it itself (KrTerrain::InstallGrid), so a grid
    // of the size it has goes into the device buffers it has and no second set is made. With
    // painting (a terrain holding only a painting, for a load), the terrain also takes that
    // painting. The step keeps what the terrain gave up: its grid without device buffers, and
    // its painting. False, with the terrain as it was and no step, when the device cannot
    // take the grid; *error says why.
    bool InstallGrid(KrStepKind kind, KrTerrainGrid& grid, std::unique_ptr<KrTerrain> painting,
                     std::string name, std::string* error = nullptr);

    // The terrain's layer operations, recorded. False (and no step) where they fail.
    bool AddSplatLayer(int32_t textureIndex, std::string name);
    bool RemoveSplatLayer(int32_t index, std::string name);
    bool SwapSplatLayers(int32_t a, int32_t b, std::string name);

    bool CanUndo() const { return !strokeOpen_ && position_ > 0; }
    bool CanRedo() const { return !strokeOpen_ && position_ < steps_.size(); }
    // The step Undo or Redo would cross next; null for none.
    const KrStepInfo* UndoStep() const;
    const KrStepInfo* RedoStep() const;
    // False when there is nothing to do or the device could not take the change; the
    // terrain is then as it was.
    bool Undo();
    bool Redo();

    // Names the state the terrain is in: the last applied step, or the first state.
    uint64_t StateId() const;
    // Whether the vertex data may differ from the state that id named (true when that
    // state can no longer be reached).
    bool FileChangedSince(uint64_t stateId) const;

    bool HasStep(uint64_t id) const;
    size_t StepCount() const { return steps_.size(); }
    size_t Position() const { return position_; }
    // Bytes the steps and the open change set hold.
    size_t HeldBytes() const;
    size_t StepBytes(size_t index) const;
    size_t ByteLimit() const { return limit_; }
    void SetByteLimit(size_t bytes);

    // Called by the terrain just before it changes something.
    void CaptureVertices(const KrTerrain& t, int32_t first, int32_t last) {
        if (capturing_ && !AllCaptured(first, last))
            CaptureVerticesSlow(t, first, last);
    }
    // The normal pass: vertex index is about to take a new normal; before is the old one.
    void CaptureNormal(const KrTerrain& t, int32_t index, float nx, float ny, float nz) {
        if (capturing_)
            CaptureNormalSlow(t, index, nx, ny, nz);
    }
    // Texels x0..x1 of rows y0..y1 of map, before a paint step writes them (the map is
    // not locked).
    void CaptureTexels(const KrTerrain& t, KrTextureEntry* map, int32_t x0, int32_t y0, int32_t x1,
                       int32_t y1) {
        if (capturingTexels_)
            CaptureTexelsSlow(t, map, x0, y0, x1, y1);
    }
    // Texture index was removed from t's list: layers kept by the steps on the same painting
    // follow their textures.
    void TextureRemoved(const KrTerrain& t, int32_t index);

private:
    struct Step;

    KrTerrain* Current() const { return slot_ ? *slot_ : nullptr; }
    bool IsDelta(size_t stepNumber) const;       // 1-based: step n leads to position n
    bool KeepsPainting(size_t stepNumber) const; // a grid step that leaves the painting
    void UpdateCapturing();
    void CheckGrid();
    void Rebase();
    void AdoptCurrent();
    void Break();
    void ResetOpen();
    void Leave();
    bool Merge(KrChangeSet& into, Step& step);
    void Push(std::unique_ptr<Step> step);
    void DropRedo();
    void EnforceLimit();
    bool MakeRoom();
    bool Apply(Step& step, bool undo);
    bool Exchange(KrChangeSet& set);
    bool SwapObject(Step& step);
    bool SwapGridWith(Step& step);
    void SwapInGrid(std::unique_ptr<KrTerrain> grid, KrStepKind kind, std::string name,
                    bool withPainting);
    bool ToolChanged(bool* changesFile);
    void RecountStep(Step& step);
    uint64_t NextId() { return ++lastId_; }

    // Whether the open set holds every vertex of first..last: the common case while a drag
    // goes over its own ground, kept inline.
    bool AllCaptured(int32_t first, int32_t last) const {
        if (first < 0 || last >= gridCount_ || first > last)
            return false;
        const uint64_t* bits = openBits_.data();
        const int32_t firstWord = first >> 6, lastWord = last >> 6;
        for (int32_t w = firstWord; w <= lastWord; ++w) {
            uint64_t mask = ~uint64_t(0);
            if (w == firstWord)
                mask &= ~uint64_t(0) << (first & 63);
            if (w == lastWord)
                mask &= ~uint64_t(0) >> (63 - (last & 63));
            if ((bits[w] & mask) != mask)
                return false;
        }
        return true;
    }
    void CaptureVerticesSlow(const KrTerrain& t, int32_t first, int32_t last);
    void CaptureNormalSlow(const KrTerrain& t, int32_t index, float nx, float ny, float nz);
    void CaptureTexelsSlow(const KrTerrain& t, KrTextureEntry* map, int32_t x0, int32_t y0,
                           int32_t x1, int32_t y1);
    bool ReserveVertices(size_t more);

    KrTerrain** slot_ = nullptr;
    KrTerrain* current_ = nullptr;
    const KrTerrainVertex* gridVertices_ = nullptr;
    int32_t gridCount_ = 0;

    std::vector<std::unique_ptr<Step>> steps_;
    size_t position_ = 0;
    size_t limit_;
    uint64_t lastId_ = 0;
    uint64_t baseId_ = 0;

    bool strokeOpen_ = false;
    std::string strokeName_;
    bool capturing_ = false;       // vertices, normals and texels
    bool capturingTexels_ = false; // texels (also while capturing_)
    bool broken_ = false;          // something could not be recorded: the next action starts afresh

    KrChangeSet open_;
    size_t openBytes_ = 0;
    std::vector<uint64_t> openBits_; // per vertex: captured in open_
    std::vector<uint64_t> scratch_;  // per vertex: held by the step being merged into
};
