// The MapVertexData file: W and D as int32, the three spacings as float32, then every
// vertex record as it is in memory. Little-endian, no magic number.
#include "KrTerrain.h"
#include "KrTerrainGrid.h"
#include "mvd_file.h"
#include "safe_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <zlib.h>

static_assert(std::endian::native == std::endian::little,
              "the file is written straight from memory and is little-endian");

namespace {

// 8 MiB of records a read or a write.
constexpr size_t kVerticesPerRead = size_t{1} << 18;
// A load's progress: reading, checking, then the grid's tables.
constexpr float kReadShare = 0.6f, kCheckShare = 0.1f;

struct FileHeader {
    int32_t vertsPerRow;
    int32_t vertsPerCol;
    float spacing[3];
};
static_assert(sizeof(FileHeader) == kMapVertexDataHeaderBytes);

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

bool Fail(std::string* error, std::string reason) {
    if (error)
        *error = std::move(reason);
    return false;
}

FileHeader HeaderOf(const KrTerrainInfo& info) {
    return FileHeader{info.vertsPerRow,
                      info.vertsPerCol,
                      {info.cellSpacingX, info.cellSpacingY, info.cellSpacingZ}};
}

} // namespace

uint64_t MapVertexDataBytes(const KrTerrainInfo& info) {
    return kMapVertexDataHeaderBytes +
           static_cast<uint64_t>(info.numVertices) * sizeof(KrTerrainVertex);
}

uint32_t MapVertexDataCrc(const KrTerrainInfo& info, const KrTerrainVertex* vertices) {
    const FileHeader header = HeaderOf(info);
    uLong crc = crc32_z(0, reinterpret_cast<const Bytef*>(&header), sizeof header);
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(vertices),
                  static_cast<size_t>(info.numVertices) * sizeof(KrTerrainVertex));
    return static_cast<uint32_t>(crc);
}

// The file appears under its name only once it is complete: a full disk, a write error or
// a killed program leaves the user's file exactly as it was (see AtomicFileWriter).
bool WriteMapVertexData(const char* path, const KrTerrainInfo& info,
                        const KrTerrainVertex* vertices, std::string* error) {
    return WriteMapVertexData(path, info, vertices, {}, error);
}

bool WriteMapVertexData(const char* path, const KrTerrainInfo& info,
                        const KrTerrainVertex* vertices, const KrProgress& progress,
                        std::string* error) {
    if (!vertices || info.numVertices <= 0)
        return Fail(error, "저장할 지형이 없습니다");
    const FileHeader header = HeaderOf(info);
    const size_t count = static_cast<size_t>(info.numVertices);
    AtomicFileWriter file;
    if (!file.Open(path, error) || !file.Write(&header, kMapVertexDataHeaderBytes, error))
        return false;
    for (size_t done = 0; done < count;) {
        if (progress.Cancelled())
            return Fail(error, kPreparationCancelled);
        progress.Report(static_cast<float>(done) / static_cast<float>(count));
        const size_t piece = std::min(kVerticesPerRead, count - done);
        if (!file.Write(vertices + done, piece * sizeof(KrTerrainVertex), error))
            return false;
        done += piece;
    }
    if (!file.Commit(error))
        return false;
    progress.Report(1.0f);
    return true;
}

bool KrTerrain::SaveMapVertexData(const char* path, std::string* error) const {
    return WriteMapVertexData(path, info, vertices, error);
}

// Everything is checked and read into new memory first; only a complete, consistent file
// replaces the grid, so a bad file loses nothing.
bool KrTerrain::LoadMapVertexData(const char* path, std::string* error) {
    if (!path || !*path)
        return Fail(error, "파일 이름이 없습니다");
    if (!device)
        return Fail(error, "지형을 올릴 그래픽 장치가 없습니다");
    KrTerrainGrid grid;
    return PrepareMapVertexData(path, &grid, {}, error) && InstallGrid(grid, error);
}

bool ReadMapVertexData(const char* path, MapVertexData* out, std::string* error) {
    return ReadMapVertexData(path, out, {}, error);
}

bool PrepareMapVertexData(const char* path, KrTerrainGrid* grid, const KrProgress& progress,
                          std::string* error) {
    *grid = KrTerrainGrid{};
    MapVertexData file;
    if (!ReadMapVertexData(path, &file, progress, error))
        return false;
    KrTerrainGrid loaded;
    loaded.info = file.info;
    loaded.vertices = std::move(file.vertices);
    std::string reason;
    if (!PrepareGridTables(&loaded, progress, kReadShare + kCheckShare, 1.0f, &reason))
        return Fail(error, reason);
    *grid = std::move(loaded);
    return true;
}

bool ReadMapVertexData(const char* path, MapVertexData* out, const KrProgress& progress,
                       std::string* error) {
    if (!path || !*path)
        return Fail(error, "파일 이름이 없습니다");
    // A named pipe or a device is refused before it can block the caller.
    FilePtr file(OpenRegularFileStream(path, error));
    if (!file)
        return false;
    struct stat st {};
    if (::fstat(fileno(file.get()), &st) != 0)
        return Fail(error, "파일을 읽을 수 없습니다: " + SystemErrorText(errno));

    FileHeader header{};
    if (std::fread(&header, 1, kMapVertexDataHeaderBytes, file.get()) != kMapVertexDataHeaderBytes)
        return Fail(error, "MapVertexData 파일이라기에는 너무 짧습니다");
    const int32_t w = header.vertsPerRow;
    const int32_t d = header.vertsPerCol;
    if (w < 2 || d < 2 || w > kMaxTerrainSide || d > kMaxTerrainSide)
        return Fail(error, "격자 크기 " + std::to_string(w) + " × " + std::to_string(d) +
                               "이(가) 한 변 2에서 " + std::to_string(kMaxTerrainSide) +
                               " 정점 사이를 벗어납니다");
    for (float s : header.spacing)
        if (!std::isfinite(s) || s <= 0.0f)
            return Fail(error, "셀 간격이 0보다 큰 수가 아닙니다");
    if (!WorldSizeFits(w, d, header.spacing[0], header.spacing[2]))
        return Fail(error, "셀 간격이 너무 큽니다: 지형의 폭이 " + std::to_string(INT32_MAX) +
                               " 단위를 넘습니다");

    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(d);
    const uint64_t expected = kMapVertexDataHeaderBytes + count * sizeof(KrTerrainVertex);
    if (static_cast<uint64_t>(st.st_size) != expected)
        return Fail(error, "파일은 " + std::to_string(st.st_size) + "바이트인데 " +
                               std::to_string(w) + " × " + std::to_string(d) + " 격자에는 " +
                               std::to_string(expected) + "바이트가 필요합니다");

    std::unique_ptr<KrTerrainVertex[]> array(new (std::nothrow) KrTerrainVertex[count]);
    if (!array)
        return Fail(error, "이 크기의 격자를 담을 메모리가 부족합니다");
    // The size check could race with a writer; the reads themselves decide. Read in pieces
    // so that progress shows and a cancel is heard.
    for (size_t done = 0; done < count;) {
        if (progress.Cancelled())
            return Fail(error, kPreparationCancelled);
        progress.Report(kReadShare * static_cast<float>(done) / static_cast<float>(count));
        const size_t piece = std::min(kVerticesPerRead, count - done);
        if (std::fread(array.get() + done, sizeof(KrTerrainVertex), piece, file.get()) != piece)
            return Fail(error, "파일이 일찍 끝났거나 읽을 수 없습니다");
        done += piece;
    }
    if (std::fgetc(file.get()) != EOF)
        return Fail(error, "파일에 격자보다 많은 데이터가 있습니다");
    file.reset();

    const float* floats = &array[0].x;
    for (size_t i = 0; i < count * 8; ++i)
        if (!std::isfinite(floats[i]))
            return Fail(error,
                        "정점 " + std::to_string(i / 8) + "에 유한하지 않은 값이 " + "있습니다");
    progress.Report(kReadShare + kCheckShare);

    out->info.InitInfo(w, d, header.spacing[0], header.spacing[1], header.spacing[2]);
    out->vertices = std::move(array);
    return true;
}
