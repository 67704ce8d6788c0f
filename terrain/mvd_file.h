// The MapVertexData file without a terrain object: read into and written from plain
// arrays, so the terrain's load and save and the converter share one reader and writer.
#pragma once

#include "KrTerrain.h"

#include <cstdint>
#include <memory>
#include <string>

constexpr size_t kMapVertexDataHeaderBytes = 20;

struct MapVertexData {
    KrTerrainInfo info{};
    std::unique_ptr<KrTerrainVertex[]> vertices;
};

struct KrProgress;

// Reads and checks a whole file: a grid the terrain can hold, exactly the bytes its header
// promises, finite numbers only. With progress, the read reports and hears a cancel.
bool ReadMapVertexData(const char* path, MapVertexData* out, std::string* error);
bool ReadMapVertexData(const char* path, MapVertexData* out, const KrProgress& progress,
                       std::string* error);
bool WriteMapVertexData(const char* path, const KrTerrainInfo& info,
                        const KrTerrainVertex* vertices, std::string* error);
// The same in pieces that report; a cancel leaves the file that was there.
bool WriteMapVertexData(const char* path, const KrTerrainInfo& info,
                        const KrTerrainVertex* vertices, const KrProgress& progress,
                        std::string* error);

// The size and CRC-32 of the file these would be written as, without writing it.
uint64_t MapVertexDataBytes(const KrTerrainInfo& info);
uint32_t MapVertexDataCrc(const KrTerrainInfo& info, const KrTerrainVertex* vertices);
