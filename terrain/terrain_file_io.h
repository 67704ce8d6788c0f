// The write call behind every file the terrain saves (the MapVertexData file, the painting
// beside it, heightmaps), replaceable so tests can make writes fail.
#pragma once

#include <cstddef>
#include <cstdio>

using MapVertexDataWriter = size_t (*)(const void* data, size_t size, size_t count, FILE* file);

// Null restores fwrite.
void SetMapVertexDataWriter(MapVertexDataWriter writer);
