// The terrain as a document: its edit history, the file it was last saved to or loaded
// from, whether it holds changes that file lacks, and the question before they are lost.
// The frame, the view and the pages ask it; it keeps no state anywhere else.
#pragma once

#include "KrEditHistory.h"

#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <string>

class CTerrainMainView;
struct KrAutoPaintRule;
struct KrTerrainGrid;

class CTerrainDocument : public QObject {
    Q_OBJECT
public:
    // Edits the view's terrain; the terrain as it is now is the first state, with no file.
    explicit CTerrainDocument(CTerrainMainView* view);
    ~CTerrainDocument() override;

    QString FilePath() const { return filePath_; }
    // Whether the terrain or its painting differ from the files (or there is no file and
    // an edit).
    bool IsModified() const;
    // A change to what is saved that is no step (textures loaded or removed, the base
    // texture, a mapping scale): the mark stays until the next save.
    void PaintingChanged();
    // "NAME.mvd - Veldmark" or "제목 없음 - Veldmark", with a leading "*" while modified.
    QString Title() const;

    // To the open file without asking; without one, as SaveAs. False when not saved.
    bool Save();
    bool SaveAs();
    // Asks to save changes first, then for a file to load with the painting beside it.
    void Load();
    // The terrain from a file given at start-up, as the first state; false (the user is
    // told why) when it cannot be loaded.
    bool OpenAtStartUp(const QString& path);
    // Asks "변경 내용을 저장하시겠습니까?" while modified: true to go on (saved, or not
    // wanted), false when cancelled or the save failed.
    bool MaybeSave();

    // The view's terrain is replaced by fresh: one step, no file. A new terrain has nothing
    // to save yet; one imported from a heightmap has.
    void ReplaceTerrain(std::unique_ptr<KrTerrain> fresh, bool imported = false);
    // The view's terrain takes grid, its own with imported heights (PrepareGridWithHeights):
    // one step; the open file stays. False, with the reason, when the device cannot take it.
    bool ReplaceHeights(KrTerrainGrid& grid, std::string* error = nullptr);

    void Undo();
    void Redo();
    bool CanUndo() const { return history_.CanUndo(); }
    bool CanRedo() const { return history_.CanRedo(); }

    // A left-button drag in the view is one step.
    void BeginStroke();
    void EndStroke();

    // Auto painting of a layer: one step, painting like a stroke (the file does not change).
    bool AutoPaintLayer(int layer, const KrAutoPaintRule& rule);

    bool AddSplatLayer(int textureIndex);
    bool RemoveSplatLayer(int index);
    bool SwapSplatLayers(int a, int b);

    KrEditHistory& History() { return history_; }

signals:
    // The title, the modified mark or what can be undone may have changed.
    void changed();
    // The terrain, its grid or its layers changed other than by a tool: pages refresh.
    void terrainChanged();
    // A line for the status bar.
    void message(const QString& text);

private:
    // The file a state belongs to: whole-terrain steps keep the other side's.
    struct Binding {
        QString path;
        uint64_t saved = 0;
        bool unstepped = false; // see PaintingChanged
    };
    // Reads a file (or one the user picks for an empty path) with its painting and makes it
    // the terrain as one step; false when nothing was read.
    bool LoadFile(QString path);
    bool SaveTo(const QString& path, const QString& title);
    void FinishStroke();
    void Recorded(const Binding& before);
    void Moved(const KrStepInfo& step, bool undo, bool done);

    CTerrainMainView* view_;
    KrEditHistory history_;
    QString filePath_;
    uint64_t saved_ = 0;
    bool unstepped_ = false;
    std::map<uint64_t, Binding> otherBinding_;
};

// The main frame's document, or null while there is none.
CTerrainDocument* Document();
