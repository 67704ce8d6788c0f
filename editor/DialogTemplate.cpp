#include "DialogTemplate.h"

#include <QButtonGroup>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>

#include <climits>

namespace {

QString ControlName(int id) {
    return QStringLiteral("dlgitem_%1").arg(id);
}

int MulDiv(int value, int numerator, int denominator) {
    const long long product = static_cast<long long>(value) * numerator;
    // Rounds half away from zero, as the Windows MulDiv does.
    return static_cast<int>((product + (product >= 0 ? denominator / 2 : -denominator / 2)) /
                            denominator);
}

QWidget* MakeButton(const res::ControlTemplate& c, const QString& text, QWidget* form,
                    QButtonGroup*& radioGroup) {
    switch (c.style & 0xF) {
    case res::BS_GROUPBOX: {
        // Drawn as Windows draws a group box: the caption sits on the frame's top line.
        auto* box = new QGroupBox(text, form);
        const int half = QFontMetrics(form->font()).height() / 2;
        box->setStyleSheet(
            QStringLiteral("QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
                           " margin-top: %1px; }"
                           "QGroupBox::title { subcontrol-origin: margin; left: 6px;"
                           " padding: 0px 2px; }")
                .arg(half));
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        return box;
    }
    case res::BS_AUTORADIOBUTTON: {
        auto* radio = new QRadioButton(text, form);
        if (!radioGroup || (c.style & res::WS_GROUP)) {
            radioGroup = new QButtonGroup(form);
            radioGroup->setExclusive(true);
        }
        radioGroup->addButton(radio, c.id);
        return radio;
    }
    default: {
        auto* button = new QPushButton(text, form);
        button->setAutoDefault(false);
        if ((c.style & 0xF) == res::BS_DEFPUSHBUTTON)
            button->setDefault(true);
        return button;
    }
    }
}

QWidget* MakeControl(const res::ControlTemplate& c, QWidget* form, QButtonGroup*& radioGroup) {
    const QString text = QString::fromUtf8(c.text);
    switch (c.cls) {
    case res::ControlClass::Button:
        return MakeButton(c, text, form, radioGroup);
    case res::ControlClass::Edit: {
        auto* edit = new QLineEdit(text, form);
        edit->setFrame((c.style & res::WS_BORDER) != 0);
        return edit;
    }
    case res::ControlClass::Static: {
        auto* label = new QLabel(text, form);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        // A box taller than one line wraps its words, as a left-aligned static does.
        label->setWordWrap(c.cy >= 16);
        return label;
    }
    case res::ControlClass::Trackbar:
        return new CTrackBar(form);
    case res::ControlClass::ListView:
        return new CListView(form);
    case res::ControlClass::Tab: {
        auto* tabs = new QTabBar(form);
        tabs->setExpanding(false);
        tabs->setDrawBase(true);
        return tabs;
    }
    }
    return nullptr;
}

} // namespace

QRect DialogBaseUnits::ToPixels(int x, int y, int cx, int cy) const {
    const int left = MulDiv(x, baseX, 4);
    const int top = MulDiv(y, baseY, 8);
    const int right = MulDiv(x + cx, baseX, 4);
    const int bottom = MulDiv(y + cy, baseY, 8);
    return QRect(left, top, right - left, bottom - top);
}

DialogBaseUnits DialogBaseUnits::FromFont(const QFont& font) {
    // The average width of the Latin letters, rounded, and the font's height: the
    // dialog base units Windows derives from a dialog's font.
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogBaseUnits{(letters / 26 + 1) / 2, metrics.height()};
}

QFont DialogFont(const res::DialogTemplate& dialog) {
    QFont font(QStringLiteral("NanumGothic"));
    font.setFamilies({QStringLiteral("NanumGothic"), QStringLiteral("NanumBarunGothic"),
                      QStringLiteral("Noto Sans CJK KR"), QString::fromUtf8(dialog.font)});
    // Points at 96 dots per inch, the resolution the templates were laid out for.
    font.setPixelSize(MulDiv(dialog.pointSize, 96, 72));
    return font;
}

CTrackBar::CTrackBar(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setTickPosition(QSlider::NoTicks);
    setFocusPolicy(Qt::StrongFocus);
}

void CTrackBar::paintEvent(QPaintEvent* event) {
    emit customDraw(value());
    QSlider::paintEvent(event);
}

CListView::CListView(QWidget* parent) : QListWidget(parent) {
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

int CListView::FirstSelected() const {
    int first = -1;
    for (const QModelIndex& index : selectionModel()->selectedIndexes())
        if (first < 0 || index.row() < first)
            first = index.row();
    return first;
}

void CListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    emit rowDoubleClicked(index.isValid() ? index.row() : -1);
}

DialogBaseUnits BuildDialog(const res::DialogTemplate& dialog, QWidget* form) {
    const QFont font = DialogFont(dialog);
    form->setFont(font);
    const DialogBaseUnits units = DialogBaseUnits::FromFont(font);
    if (dialog.title[0] != '\0')
        form->setWindowTitle(QString::fromUtf8(dialog.title));

    QButtonGroup* radioGroup = nullptr;
    for (const res::ControlTemplate& c : dialog.controls) {
        const bool isRadio =
            c.cls == res::ControlClass::Button && (c.style & 0xF) == res::BS_AUTORADIOBUTTON;
        if (!isRadio && (c.style & res::WS_GROUP))
            radioGroup = nullptr;
        QWidget* control = MakeControl(c, form, radioGroup);
        if (!control)
            continue;
        if (c.id != res::IDC_STATIC)
            control->setObjectName(ControlName(c.id));
        control->setProperty("dialogId", c.id);
        control->setGeometry(units.ToPixels(c.x, c.y, c.cx, c.cy));
        if (c.style & res::WS_DISABLED)
            control->setEnabled(false);
        if (!(c.style & res::WS_TABSTOP) && c.cls != res::ControlClass::Button &&
            c.cls != res::ControlClass::Edit)
            control->setFocusPolicy(Qt::NoFocus);
    }
    form->setFixedSize(units.ToPixels(0, 0, dialog.cx, dialog.cy).size());
    return units;
}

QWidget* GetDlgItem(const QWidget* form, int id) {
    if (!form || id == res::IDC_STATIC)
        return nullptr;
    return form->findChild<QWidget*>(ControlName(id), Qt::FindDirectChildrenOnly);
}

void SetDlgItemText(const QWidget* form, int id, const QString& text) {
    QWidget* control = GetDlgItem(form, id);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(text);
}

QString GetDlgItemText(const QWidget* form, int id) {
    QWidget* control = GetDlgItem(form, id);
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        return edit->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    return QString();
}

void SetDlgItemInt(const QWidget* form, int id, int value) {
    SetDlgItemText(form, id, QString::number(value));
}

void BindValueBox(QLineEdit* box, CTrackBar* trackbar) {
    const auto restore = [box, trackbar] { box->setText(QString::number(trackbar->value())); };
    QObject::connect(box, &QLineEdit::returnPressed, trackbar, [box, trackbar, restore] {
        bool number = false;
        const int value = box->text().trimmed().toInt(&number);
        if (number && value >= trackbar->minimum() && value <= trackbar->maximum()) {
            trackbar->setValue(value);
            emit trackbar->customDraw(trackbar->value());
        }
        restore();
        box->selectAll();
    });
    QObject::connect(box, &QLineEdit::editingFinished, trackbar, restore);
}

int32_t WToI(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    long long value = 0;
    for (; i < n && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int32_t>(value);
}
