// A terrain on a memory device, shared by the terrain tests.
#pragma once

#include "KrTerrain.h"
#include "memory_device.h"

#include <cmath>

struct MemoryTerrain {
    MemoryTerrain() { terrain.device = device; }
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
};
