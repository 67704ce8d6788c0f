// File dialogs and message boxes go through this seam, so tests can supply the paths and
// read the messages instead of driving modal dialogs.
#pragma once

#include <QString>
#include <QStringList>

class QWidget;

class CPrompts {
public:
    virtual ~CPrompts() = default;
    // The chosen files, in the dialog's order; empty when the user cancels. filter uses the
    // Windows form "Description|pattern;pattern|...".
    virtual QStringList OpenFiles(QWidget* parent, const QString& title, const QString& filter,
                                  bool multiple) = 0;
    // The chosen path, or empty when cancelled; defaultSuffix is added to a bare name, and
    // an existing file is confirmed before it is chosen.
    virtual QString SaveFile(QWidget* parent, const QString& title, const QString& filter,
                             const QString& defaultSuffix) = 0;
    virtual void Message(QWidget* parent, const QString& caption, const QString& text) = 0;

    enum class SaveAnswer { Save, Discard, Cancel };
    // Asks whether to save changes before they are discarded: "저장", "저장 안 함", "취소".
    virtual SaveAnswer AskSave(QWidget* parent, const QString& caption, const QString& text) = 0;
};

// The prompts in use: the Qt dialogs unless a test has installed its own.
CPrompts& Prompts();
// Installs prompts (not owned); null restores the Qt dialogs.
void SetPrompts(CPrompts* prompts);

// "Description|*.a;*.b;|" → "Description (*.a *.b)", one Qt filter per pair, ";;" between.
QString QtFileFilter(const QString& windowsFilter);
