// A terrain on a memory device, and the views and triangle lists the terrain tests share.
#pragma once

#include "KrQuadTree.h"
#include "KrTerrain.h"
#include "memory_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using Triangle = std::array<int32_t, 3>;
static_assert(sizeof(Triangle) == 12, "index buffers are read as triangles in place");
using Vertices = std::vector<KrTerrainVertex>;

struct MemoryTerrain {
    MemoryTerrain() { terrain.device = device; }
    MemoryTerrain(int32_t w, int32_t d, int32_t spacing = 10) : MemoryTerrain() {
        EXPECT_TRUE(terrain.Create(w, d, spacing)) << w << " x " << d;
    }
    ~MemoryTerrain() {
        terrain.device = nullptr;
        device->Release();
    }
    MemoryDevice* device = new MemoryDevice();
    KrTerrain terrain;

    MemoryVertexBuffer* VertexBuffer() const {
        return static_cast<MemoryVertexBuffer*>(terrain.vertexBuffer);
    }
    MemoryIndexBuffer* IndexBuffer() const {
        return static_cast<MemoryIndexBuffer*>(terrain.indexBuffer);
    }
    const KrTerrainVertex* BufferVertices() const {
        return reinterpret_cast<const KrTerrainVertex*>(VertexBuffer()->data.data());
    }
    Vertices Master() const {
        return Vertices(terrain.vertices, terrain.vertices + terrain.info.numVertices);
    }
    // Whether the master array and the vertex buffer both hold exactly these bits.
    bool Holds(const Vertices& v) const {
        const size_t bytes = v.size() * sizeof(KrTerrainVertex);
        return std::memcmp(v.data(), terrain.vertices, bytes) == 0 &&
               std::memcmp(v.data(), BufferVertices(), bytes) == 0;
    }
    // The triangles the last update put in the index buffer.
    std::vector<Triangle> Listed() const {
        const auto* raw = reinterpret_cast<const Triangle*>(IndexBuffer()->data.data());
        return std::vector<Triangle>(raw, raw + terrain.visibleTriangleCount);
    }
    IDirect3DTexture9* AddTexture() {
        IDirect3DTexture9* texture = nullptr;
        device->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr);
        terrain.textures.push_back(new KrTextureEntry{texture});
        return texture;
    }
};

// The view matrix of a camera at eye looking at target (left-handed, y up).
inline D3DXMATRIX LookAt(const D3DXVECTOR3& eye, const D3DXVECTOR3& target) {
    D3DXVECTOR3 look = target - eye, right, up;
    D3DXVec3Normalize(&look, &look);
    // Straight down has no horizontal heading: take +z as up on screen.
    const bool down = std::fabs(look.y) > 0.9999f;
    const D3DXVECTOR3 worldUp(0, down ? 0.0f : 1.0f, down ? 1.0f : 0.0f);
    D3DXVec3Normalize(&right, D3DXVec3Cross(&right, &worldUp, &look));
    D3DXVec3Cross(&up, &look, &right);
    return D3DXMATRIX(right.x, up.x, look.x, 0, right.y, up.y, look.y, 0, right.z, up.z, look.z, 0,
                      -D3DXVec3Dot(&eye, &right), -D3DXVec3Dot(&eye, &up),
                      -D3DXVec3Dot(&eye, &look), 1);
}

// The view the terrain culls with for this camera: moved 200 units back.
inline D3DXMATRIX CullView(const D3DXVECTOR3& eye, const D3DXVECTOR3& target) {
    D3DXMATRIX view = LookAt(eye, target);
    view._43 += 200.0f;
    return view;
}

inline D3DXMATRIX CullProjection() {
    D3DXMATRIX p;
    D3DXMatrixPerspectiveFovLH(&p, 1.5f, 1.0f, 10.0f, 100000.0f);
    return p;
}

// A frustum that holds every point, its level-of-detail centre at eye.
inline KrFrustum EverythingFrustum(const D3DXVECTOR3& eye) {
    KrFrustum f;
    for (KrPlane& p : f.planes)
        p = KrPlane{1, 0, 0, -1e9f};
    f.centre = eye;
    return f;
}

// Every cell's (A, B, C) and (C, B, D), rows outer and columns inner.
inline std::vector<Triangle> FullGrid(int32_t w, int32_t d) {
    std::vector<Triangle> out;
    for (int32_t a = 0; a < w * (d - 1); ++a)
        if (a % w != w - 1)
            out.insert(out.end(), {{a, a + 1, a + w}, {a + w, a + 1, a + w + 1}});
    return out;
}

inline std::vector<Triangle> Sorted(std::vector<Triangle> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// The separate cull and index passes of the quadtree, checked not to write past their count.
inline std::vector<Triangle> Generate(KrQuadTree* tree, const KrTerrain& t, const KrFrustum& f,
                                      double lodFactor) {
    std::vector<Triangle> out(static_cast<size_t>(t.info.numTriangles) + 1, {-7, -7, -7});
    tree->FrustumCull(t.vertices, &f);
    const int32_t n = tree->GenerateIndices(0, out.front().data(), t.vertices, &f, lodFactor);
    EXPECT_LE(n, t.info.numTriangles);
    EXPECT_EQ(out[static_cast<size_t>(n)][0], -7);
    out.resize(static_cast<size_t>(n));
    return out;
}

// A temporary directory, removed with everything in it.
struct TempDir {
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "veldmark-test-XXXXXX").string();
        dir = mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(dir); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    std::filesystem::path dir;
};

// A MapVertexData file of the grid that info describes, with these vertices.
inline void WriteMvd(const std::string& path, const KrTerrainInfo& info, const Vertices& v) {
    std::ofstream out(path, std::ios::binary);
    const float spacing[3] = {info.cellSpacingX, info.cellSpacingY, info.cellSpacingZ};
    out.write(reinterpret_cast<const char*>(&info.vertsPerRow), 4);
    out.write(reinterpret_cast<const char*>(&info.vertsPerCol), 4);
    out.write(reinterpret_cast<const char*>(spacing), 12);
    out.write(reinterpret_cast<const char*>(v.data()), std::streamsize(v.size() * 32));
}
