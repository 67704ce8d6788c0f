// Builds Qt widgets from the dialog templates of editor/res/, placed as Windows places a
// dialog's controls: dialog units scaled by the dialog font's base units (x·baseX/4,
// y·baseY/8). Controls are found again by their numeric id.
#pragma once

#include "res/dialog_templates.h"

#include <QFont>
#include <QListWidget>
#include <QRect>
#include <QSlider>
#include <QString>

class QLineEdit;

struct DialogBaseUnits {
    int baseX = 0;
    int baseY = 0;

    // Left and right edges are mapped separately, as MapDialogRect does.
    QRect ToPixels(int x, int y, int cx, int cy) const;
    static DialogBaseUnits FromFont(const QFont& font);
};

// The font a template names, with a Korean-capable face standing in for "MS Shell Dlg".
QFont DialogFont(const res::DialogTemplate& dialog);

// A trackbar: its paint event first calls the page's handler (the custom-draw
// notification), so the page copies the position out on every repaint.
class CTrackBar : public QSlider {
    Q_OBJECT
public:
    explicit CTrackBar(QWidget* parent = nullptr);

signals:
    void customDraw(int position);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A list view in list mode: text rows in columns, filled top to bottom, scrolling sideways.
class CListView : public QListWidget {
    Q_OBJECT
public:
    explicit CListView(QWidget* parent = nullptr);

    // The lowest selected row, or -1.
    int FirstSelected() const;

signals:
    // The row under the double click, -1 for empty space.
    void rowDoubleClicked(int row);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// Creates every control of the template as a child of form, sets the form's font and its
// size from the template and returns the base units used.
DialogBaseUnits BuildDialog(const res::DialogTemplate& dialog, QWidget* form);

// The control with this id among form's direct children, or null.
QWidget* GetDlgItem(const QWidget* form, int id);
template <class T> T* DlgItem(const QWidget* form, int id) {
    return qobject_cast<T*>(GetDlgItem(form, id));
}

// Sets and reads a control's text; the number forms write decimal integers.
void SetDlgItemText(const QWidget* form, int id, const QString& text);
QString GetDlgItemText(const QWidget* form, int id);
void SetDlgItemInt(const QWidget* form, int id, int value);

// Lets the value box beside a trackbar set it: Enter applies a whole number within the
// trackbar's range, moving the trackbar and writing its value at once (its custom-draw
// handler runs); other text, or leaving the box without Enter, puts back the value in
// effect, so the box never shows what is not applied.
void BindValueBox(QLineEdit* box, CTrackBar* trackbar);

// Reads an integer the way _wtoi does: leading white space, an optional sign, then digits
// up to the first non-digit; no digits give 0, and values past the int32 range saturate.
int32_t WToI(const QString& text);
