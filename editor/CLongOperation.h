// Work that can take longer than a moment (a new terrain, a load, a save, heightmap imports
// and exports) runs on a thread of its own, while the interface thread waits for it in an
// event loop of its own: the window goes on drawing frames, a progress dialog shows once the
// work has taken a short while, the cursor says the editor is busy, and work that allows it
// can be cancelled. The call returns when the work is over, so callers read as before.
//
// What the user can do meanwhile: the progress dialog is modal to the window, and until it
// shows the window takes no clicks, keys or wheel turns either (releases still arrive, so no
// key or button stays held). The view goes on drawing the terrain as it is; the camera stays.
// No second operation starts. Closing the window cancels work that can be cancelled, or waits
// for work that cannot (a save), and then closes the usual way, asking about unsaved changes.
//
// What the work may do:
// - no Qt and no device call, no widget, no terrain method that reaches the device;
// - read the view's terrain's description and master array: nothing writes them while it
//   runs, as the idle loop draws frames without the terrain's Update (the normal pass and
//   the tools are what write the array) and the view takes no input;
// - write only into what its caller gave it. The caller puts the result in place on the
//   interface thread once Run has returned, so no frame ever sees a half-made terrain.
#pragma once

#include "KrTerrainGrid.h"

#include <QString>

#include <functional>
#include <string>

class QWidget;

class CLongOperation {
public:
    enum class Outcome { Done, Failed, Cancelled };
    // Runs off the interface thread; false with the reason in *error. A cancel shows as a
    // false result with kPreparationCancelled as the reason.
    using Work = std::function<bool(const KrProgress& progress, std::string* error)>;

    // Runs work to its end. label is the dialog's text ("불러오는 중..."); cancellable gives
    // the dialog a "취소" button, which sets the progress's cancel flag. While another
    // operation runs, nothing is run: Failed, with the reason.
    static Outcome Run(const QString& label, bool cancellable, const Work& work,
                       std::string* error = nullptr);
    static bool Running();
    // The window is asked to close while an operation runs: the operation is cancelled where
    // it can be, and the window is asked again once it is over. False when none runs.
    static bool DeferClose(QWidget* window);

    // Test hook, for the tests and for looking at the dialog: every progress report of the
    // work waits this long first (0, the default, waits nothing).
    static void SetStepDelay(int milliseconds);
};
