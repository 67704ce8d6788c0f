// File dialogs and message boxes go through this seam, so tests can supply the paths and
// read the messages instead of driving modal dialogs.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <limits>

class QWidget;

// One value asked for in a small form: a number, a whole number or a check box (0 or 1).
struct PromptField {
    enum Kind { Number, Integer, Check };
    QString label;
    Kind kind = Number;
    double value = 0;
    double minimum = -std::numeric_limits<double>::max();
    double maximum = std::numeric_limits<double>::max();
};

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
    // A message that reports a success rather than a problem.
    virtual void Inform(QWidget* parent, const QString& caption, const QString& text) {
        Message(parent, caption, text);
    }
    // Shows text above the fields, filled with their values; on OK the fields hold the
    // values entered, each within its bounds. False when the user cancels.
    virtual bool AskValues(QWidget* parent, const QString& title, const QString& text,
                           QList<PromptField>* fields) = 0;

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
