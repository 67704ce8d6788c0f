// The painting file beside a MapVertexData file, in the halves that run on different threads:
// reading, checking, encoding and writing it need no device and run anywhere; making and
// reading its textures and alpha maps is the terrain's, on the device's thread
// (KrTerrain::ApplyPainting and KrTerrain::CollectPainting). KrTerrain::LoadPainting and
// SavePainting do both halves in one go.
#pragma once

#include "KrTerrain.h"
#include "splat_file.h"

#include <string>

struct KrProgress;

// A painting file read and checked against the vertices it must belong to. status is NoFile
// when there is none, Refused (with error) when it is damaged, foreign or belongs to other
// vertices, and Restored when data holds a painting that ApplyPainting can put in place.
struct KrPaintingRead {
    KrTerrain::PaintingLoad::Status status = KrTerrain::PaintingLoad::NoFile;
    std::string error;
    std::string path; // the painting file
    SplatFileData data;
};

KrPaintingRead ReadPaintingFile(const char* mapVertexDataPath, const KrTerrainInfo& info,
                                const KrTerrainVertex* vertices);

// A painting gathered for the file beside a MapVertexData file: written, or with remove,
// the file that was there taken away.
struct KrPaintingWrite {
    std::string path; // the painting file
    bool remove = false;
    SplatFileData data; // without the size and checksum of the heights, which the write adds
};

// Writes (or removes) the painting beside heights info and vertices, as safely as the heights.
bool WritePaintingFile(KrPaintingWrite& painting, const KrTerrainInfo& info,
                       const KrTerrainVertex* vertices, std::string* error);
