// The editable height field: a regular grid of vertices on the x–z plane, y up, with its
// device buffers, master vertex array, quadtree, textures and splatting layers.
#pragma once

#include "KrCamera.h"
#include "KrFrustum.h"
#include "KrNode.h"
#include "KrNoise.h"
#include "d3d9.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Sides above this many vertices are refused everywhere a terrain is made: creation, file
// load and the new terrain dialog. 4097² vertices already take 512 MiB of vertex data.
constexpr int32_t kMaxTerrainSide = 4097;

constexpr int32_t ALPHA_MAP_SIZE = 1024;
constexpr int32_t kBrushOutlinePoints = 720;

// One grid vertex: the device's vertex format, the master array's record and the file's.
struct KrTerrainVertex {
    float x, y, z;
    float nx, ny, nz;
    float u, v;
};
static_assert(sizeof(KrTerrainVertex) == 32, "the vertex record is the device's 32-byte stride");
constexpr DWORD kTerrainFvf = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;

struct KrTerrainInfo {
    int32_t vertsPerRow;
    int32_t vertsPerCol;
    int32_t cellsPerRow;
    int32_t cellsPerCol;
    int32_t worldWidth;
    int32_t worldDepth;
    int32_t numVertices;
    int32_t numTriangles;
    float cellSpacingX;
    float cellSpacingY;
    float cellSpacingZ;

    void InitInfo(int32_t vertsPerRow, int32_t vertsPerCol, float cellSpacingX, float cellSpacingY,
                  float cellSpacingZ);
};

// A texture owned by the list that holds it. source is the file it was loaded from (UTF-8):
// the painting is saved with it, and the editor's lists show its name. A texture whose file
// could not be loaded when the painting was restored keeps its place with no texture: layers
// on it are not drawn, and as the base it leaves the terrain's lit colour.
struct KrTextureEntry {
    KrTextureEntry() = default;
    explicit KrTextureEntry(IDirect3DTexture9* t, std::string file = {})
        : texture(t), source(std::move(file)) {}

    IDirect3DTexture9* texture = nullptr;
    std::string source;
};

struct KrSplatLayer {
    float mappingScale;
    int32_t textureIndex;
};

class KrEditHistory;
class KrQuadTree;
struct KrAutoPaintRule;
struct KrPaintingRead;
struct KrPaintingWrite;
struct KrTerrainGrid;

class KrTerrain : public KrNode {
public:
    KrTerrain();
    ~KrTerrain() override;

    // Grid and vertex data. Create and LoadMapVertexData prepare the grid (KrTerrainGrid.h)
    // and install it in one go.
    bool Create(int32_t width, int32_t depth, int32_t cellSpacing);
    bool BuildVertices();
    // On the interface thread: puts a prepared grid in place, making its vertex and index
    // buffers (a grid of the same size reuses those there), filling the vertex buffer, and
    // making the brush outline buffer if the terrain has none yet. Afterwards `grid` holds
    // the previous grid's arrays, which may be freed on any thread. On failure the terrain
    // and `grid` are as they were.
    bool InstallGrid(KrTerrainGrid& grid, std::string* error = nullptr);
    bool UpdateNormals(const int32_t* triangles);
    // The vertex buffer is refreshed only where the master array changed. The brush, the
    // normal pass and the grid's own builders keep track of that; code that writes
    // `vertices` directly calls this with the first and last index it wrote.
    void MarkVerticesChanged(int32_t first, int32_t last);

    // MapVertexData file. On failure the reason goes to *error (if given); a failed save
    // leaves any existing file untouched, a failed load leaves the terrain untouched.
    // The save reads only info and the master array and calls no device, so it may run on
    // another thread as long as nothing writes them meanwhile: Update does (the normal pass,
    // the tools), Render does not.
    bool SaveMapVertexData(const char* path, std::string* error = nullptr) const;
    bool LoadMapVertexData(const char* path, std::string* error = nullptr);

    // The painting (textures, base texture, layers and their alpha maps) in the file
    // beside a MapVertexData file. Saving with no textures and no layers removes that file.
    bool SavePainting(const char* mapVertexDataPath, std::string* error = nullptr) const;
    // Restores the painting beside a MapVertexData file just loaded into this terrain (the
    // file must belong to the vertices as they were read). All or nothing: a refused file
    // leaves the painting as it was.
    struct PaintingLoad {
        enum Status { NoFile, Restored, Refused } status = NoFile;
        std::string error;                // why it was refused
        std::vector<std::string> missing; // "name (path): reason" of textures not loaded
    };
    PaintingLoad LoadPainting(const char* mapVertexDataPath);
    // The device halves of the two (painting_file.h): a painting file read and checked
    // elsewhere, put in place with its alpha maps and textures made on the device (all or
    // nothing, as LoadPainting); and the painting gathered for writing, the alpha maps read
    // from the device. A painting that cannot be gathered is reported in *error.
    PaintingLoad ApplyPainting(const KrPaintingRead& read);
    bool CollectPainting(const char* mapVertexDataPath, KrPaintingWrite* out,
                         std::string* error = nullptr) const;
    // Layer i's coverage, one byte a texel (the alpha channel), row 0 at the +z edge.
    bool ReadCoverage(int32_t layer, std::vector<uint8_t>* coverage) const;

    // Heightmap import. ReplaceHeights sets every vertex's height (numVertices values, in
    // record order) and gives the normals of the new surface; CreateFromHeights makes a new
    // flat grid, laid out as Create lays it out, with these heights. Both refuse non-finite
    // heights and keep the terrain as it was on any failure.
    bool ReplaceHeights(const float* heights, std::string* error = nullptr);
    bool CreateFromHeights(int32_t width, int32_t depth, float spacingX, float spacingY,
                           float spacingZ, const float* heights, std::string* error = nullptr);
    // Makes this terrain's grid a copy of like's (description, positions across, texture
    // coordinates) with these heights and the normals of the new surface, as ReplaceHeights
    // would leave like; like stays as it is.
    bool CopyGridWithHeights(const KrTerrain& like, const float* heights,
                             std::string* error = nullptr);

    // Height brush. The round shape and the modes past flatten go to the sculpting tools
    // (terrain_sculpt.cpp); the two squares' raise, lower and flatten stay as they are.
    void ApplyHeightBrush();
    bool UpdateBrushOutline(KrPickRay* pick);

    // The view calls this at each left button down: the next brush step begins a stroke,
    // and "set height" takes its target height from that step's pick point.
    void BeginStroke();
    // The sculpting tools call this just before they write grid row `row`, from column
    // firstColumn to lastColumn: every row they change passes through here once per step.
    void BeginRowEdit(int32_t row, int32_t firstColumn, int32_t lastColumn);

    // Picking.
    bool PickTerrain(const int32_t* triangles);
    static bool IntersectTriangle(KrPickRay* ray, const D3DXVECTOR3& v0, const D3DXVECTOR3& v1,
                                  const D3DXVECTOR3& v2);
    void WorldToCell(float x, float z, int32_t* column, int32_t* row) const;
    float GetHeight(float x, float z) const;

    // Per-frame update and drawing.
    void Update() override;
    bool UpdateTerrain(D3DXMATRIX view, D3DXMATRIX projection);
    bool BuildFullIndexList(int32_t* triangles);
    void Render() override;

    // Textures and splatting.
    bool AddTexture(const wchar_t* path, std::string* error = nullptr);
    bool RemoveTexture(int32_t index);
    bool AddSplatLayer(int32_t textureIndex);
    bool AddAlphaMap();
    bool RemoveAlphaMap(int32_t index);
    bool RemoveSplatLayer(int32_t index);
    bool SwapSplatLayers(int32_t a, int32_t b);
    bool PaintSplat(KrPickRay* pick, int32_t layer);
    // Replaces a layer's coverage over the whole terrain by the rule's slope and height
    // ranges (terrain_autopaint.cpp). False, with nothing changed, for an invalid layer or a
    // failed lock.
    bool AutoPaintLayer(int32_t layer, const KrAutoPaintRule& rule);
    // Called just before auto painting writes the texels of rect (right and bottom
    // exclusive, as a lock's) in a layer's alpha map: the history keeps them.
    void BeginAlphaMapEdit(int32_t layer, const RECT& texels);

    // Edit history support (terrain_history.cpp).
    // Exchanges the grids (description, master array, device buffers, quadtree, the normal
    // pass's per-vertex counts) of two terrains. Each side's vertex buffer must hold its
    // whole array.
    void SwapGrid(KrTerrain& other);
    // Exchanges the paintings (textures, base texture and scale, layers with their alpha
    // maps, the layer painted) of two terrains.
    void SwapPainting(KrTerrain& other);
    // Exchanges the vertex and index buffers alone, as they are, with nothing else: for a
    // terrain that is about to be kept without its buffers to hand them to the terrain that
    // replaces it, whose InstallGrid fills them (or makes its own where the size differs).
    // Exchanged back, both are as they were.
    void SwapGridBuffers(KrTerrain& other);
    // Puts a grid's arrays in place with no device buffers, as a grid kept aside holds them
    // (RestoreGridBuffers makes them); the arrays this terrain had go back in grid. For a
    // terrain without buffers.
    void TakeGridArrays(KrTerrainGrid& grid);
    // Drops the device buffers of a grid kept aside, so a kept grid costs its arrays and
    // quadtree only; RestoreGridBuffers makes them again from the array.
    void ReleaseGridBuffers();
    bool RestoreGridBuffers();
    // Sends the changed vertices to the device now instead of at the next frame.
    bool FlushVertexUploads();
    // Takes over the settings that are not part of the terrain's data (brush, paint,
    // fill mode, level of detail, tool) and the borrowed device and pick record.
    void TakeSettingsFrom(const KrTerrain& other);
    // Roughly what this terrain holds in memory outside the device: master array, work
    // arrays, quadtree, textures and alpha maps.
    size_t HeldBytes() const;

    int32_t fillMode = D3DFILL_SOLID;
    IDirect3DVertexBuffer9* brushOutlineBuffer = nullptr;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    IDirect3DDevice9* device = nullptr; // borrowed from KrRenderer
    KrTerrainVertex* vertices = nullptr;

    int32_t splatCentreX = 0;
    int32_t splatCentreY = 0;
    int32_t selectedLayer = -1;
    std::vector<KrTextureEntry*> textures;
    std::vector<KrTextureEntry*> alphaMaps;
    float baseMappingScale = 1.0f;
    int32_t baseTexture = 0;
    std::vector<KrSplatLayer> splatLayers;

    int32_t visibleTriangleCount = 0;
    int32_t quadTreeEnabled = 0;
    KrFrustum frustum{};
    KrQuadTree* quadTree = nullptr;
    KrTerrainInfo info{};
    bool editing = false;
    int32_t activeTool = 0; // 0 height brush, 1 splat painting, 2 none
    int32_t brushMode = 0;  // KrBrushMode: 0 none, 1 raise, 2 lower, 3 flatten, 4 smooth,
                            // 5 set height, 6 noise
    int32_t brushShape = 0; // KrBrushShape: 0 the two squares, 1 round
    int32_t paintMode = 1;  // 1 draw, 0 erase
    int32_t bigRadius = 100;
    int32_t smallRadius = 50;
    float splatInnerRadius = 0.0f;
    float strength = 0.1f;
    float lodThreshold = 0.001f;
    KrPickRay* pickRay = nullptr; // borrowed from the view
    // The height "set height" moves towards: the pick point's height at the stroke's first
    // step.
    float setHeightTarget = 0.0f;
    uint32_t noiseSeed = 1; // the noise brush's pattern
    // Borrowed; told before the brush, the painter and the normal pass change anything,
    // so that an edit can be undone exactly. Null records nothing.
    KrEditHistory* history = nullptr;

    // Whether this frame's picking hit a listed triangle; the tools and the outline act
    // only then, so a ray that misses never edits at a stale point.
    bool pickHit = false;

private:
    // The normal pass's work. Per vertex, how often this frame's list names it (a vertex
    // named 255 times or more keeps its count in normalCrowd_); in order of first listing,
    // the normals the listed vertices had before the pass.
    struct NormalBefore {
        float nx, ny, nz;
    };
    struct CrowdedVertex {
        int32_t index, uses;
    };

    struct IndexRange {
        int32_t first, last; // empty when first > last
    };

    // The master array's vertices not yet in the vertex buffer: all of them lie in
    // changed_, and per grid row in changedRows_ (vertsPerCol entries; null if it could not
    // be made, and then changed_ is uploaded whole).
    IndexRange changed_{INT32_MAX, -1};
    std::unique_ptr<IndexRange[]> changedRows_;
    // numVertices zeroes, made with the grid; the other two grow with the longest list.
    std::unique_ptr<uint8_t[]> normalUses_;
    std::unique_ptr<NormalBefore[]> normalsBefore_;
    size_t normalsBeforeCapacity_ = 0;
    std::unique_ptr<CrowdedVertex[]> normalCrowd_;
    size_t normalCrowdCapacity_ = 0;

    bool ReserveNormalWork(int64_t count);
    void MarkVertex(int32_t index);
    // Copies the changed vertices to the device, a few row runs at a time.
    bool UploadChangedVertices();

    // Which buffers Install makes: the vertex buffer alone (BuildVertices), or both.
    enum class Buffers { Vertices, Grid };
    bool Install(KrTerrainGrid& grid, Buffers buffers, std::string* error);
    // A new grid whose vertex buffer already holds the whole array.
    void ResetVertexTracking();
    void ReleaseSplatting();

    // The round shape and the modes past flatten, one step.
    void ApplySculptBrush();

    bool strokeStarting_ = true;
    // The sculpting tools' row buffers; they grow with the grid and are then reused.
    std::vector<float> sculptRows_;
    KrNoiseField noise_;
};

// Whether a W × D grid with this spacing can be made (2 to kMaxTerrainSide a side, a
// finite spacing above zero, a world size that fits the info's integer fields).
bool IsValidTerrainSize(int32_t width, int32_t depth, float spacing);
// Whether worldWidth and worldDepth of such a grid fit in an int32.
bool WorldSizeFits(int32_t width, int32_t depth, float spacingX, float spacingZ);
