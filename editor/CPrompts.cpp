#include "CPrompts.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <charconv>
#include <cmath>

namespace {

// The shortest text that reads back as the same number; a number that is a single-precision
// one (a height) is shown as such, so a value accepted unchanged stays the value it was.
QString NumberText(double value) {
    char buffer[64];
    const auto single = static_cast<float>(value);
    const auto [end, ec] = static_cast<double>(single) == value
                               ? std::to_chars(buffer, buffer + sizeof buffer, single)
                               : std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, ec == std::errc() ? end - buffer : 0);
}

QString BoundText(double value) {
    return std::fabs(value) >= std::numeric_limits<double>::max() ? QString() : NumberText(value);
}

class QtPrompts : public CPrompts {
public:
    QStringList OpenFiles(QWidget* parent, const QString& title, const QString& filter,
                          bool multiple) override {
        QFileDialog dialog(parent, title, QString(), QtFileFilter(filter));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
        if (dialog.exec() != QDialog::Accepted)
            return {};
        return dialog.selectedFiles();
    }

    QString SaveFile(QWidget* parent, const QString& title, const QString& filter,
                     const QString& defaultSuffix) override {
        QFileDialog dialog(parent, title, QString(), QtFileFilter(filter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().first();
    }

    void Message(QWidget* parent, const QString& caption, const QString& text) override {
        QMessageBox::warning(parent, caption, text, QMessageBox::Ok);
    }

    void Inform(QWidget* parent, const QString& caption, const QString& text) override {
        QMessageBox::information(parent, caption, text, QMessageBox::Ok);
    }

    bool AskValues(QWidget* parent, const QString& title, const QString& text,
                   QList<PromptField>* fields) override {
        QDialog dialog(parent);
        dialog.setWindowTitle(title);
        dialog.setMinimumWidth(380);
        auto* layout = new QVBoxLayout(&dialog);
        auto* label = new QLabel(text, &dialog);
        label->setWordWrap(true);
        layout->addWidget(label);
        auto* form = new QFormLayout();
        layout->addLayout(form);
        QList<QWidget*> editors;
        for (const PromptField& field : *fields) {
            if (field.kind == PromptField::Check) {
                auto* box = new QCheckBox(field.label, &dialog);
                box->setChecked(field.value != 0);
                form->addRow(box);
                editors << box;
            } else {
                auto* edit = new QLineEdit(field.kind == PromptField::Integer
                                               ? QString::number(std::llround(field.value))
                                               : NumberText(field.value),
                                           &dialog);
                form->addRow(field.label, edit);
                editors << edit;
            }
        }
        auto* buttons = new QDialogButtonBox(&dialog);
        buttons->addButton(QStringLiteral("확인"), QDialogButtonBox::AcceptRole)->setDefault(true);
        buttons->addButton(QStringLiteral("취소"), QDialogButtonBox::RejectRole);
        layout->addWidget(buttons);

        QList<double> values;
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
            values.clear();
            for (qsizetype i = 0; i < fields->size(); ++i) {
                const PromptField& field = (*fields)[i];
                if (field.kind == PromptField::Check) {
                    values << (static_cast<QCheckBox*>(editors[i])->isChecked() ? 1.0 : 0.0);
                    continue;
                }
                auto* edit = static_cast<QLineEdit*>(editors[i]);
                bool ok = false;
                const QString entered = edit->text().trimmed();
                double value = field.kind == PromptField::Integer
                                   ? QLocale::c().toLongLong(entered, &ok)
                                   : QLocale::c().toDouble(entered, &ok);
                if (!ok || !std::isfinite(value) || value < field.minimum ||
                    value > field.maximum) {
                    const QString low = BoundText(field.minimum), high = BoundText(field.maximum);
                    QString wanted = field.kind == PromptField::Integer ? QStringLiteral("정수")
                                                                        : QStringLiteral("수");
                    if (!low.isEmpty() && !high.isEmpty())
                        wanted = QStringLiteral("%1에서 %2 사이의 %3").arg(low, high, wanted);
                    QMessageBox::warning(
                        &dialog, title,
                        QStringLiteral("'%1'에는 %2를 입력하십시오.").arg(field.label, wanted));
                    edit->setFocus();
                    edit->selectAll();
                    return;
                }
                values << value;
            }
            dialog.accept();
        });
        if (dialog.exec() != QDialog::Accepted)
            return false;
        for (qsizetype i = 0; i < fields->size(); ++i)
            (*fields)[i].value = values[i];
        return true;
    }

    SaveAnswer AskSave(QWidget* parent, const QString& caption, const QString& text) override {
        QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::NoButton, parent);
        QPushButton* save = box.addButton(QStringLiteral("저장"), QMessageBox::AcceptRole);
        QPushButton* discard =
            box.addButton(QStringLiteral("저장 안 함"), QMessageBox::DestructiveRole);
        QPushButton* cancel = box.addButton(QStringLiteral("취소"), QMessageBox::RejectRole);
        box.setDefaultButton(save);
        box.setEscapeButton(cancel);
        box.exec();
        if (box.clickedButton() == save)
            return SaveAnswer::Save;
        return box.clickedButton() == discard ? SaveAnswer::Discard : SaveAnswer::Cancel;
    }
};

QtPrompts qtPrompts;
CPrompts* current = &qtPrompts;

} // namespace

CPrompts& Prompts() {
    return *current;
}

void SetPrompts(CPrompts* prompts) {
    current = prompts ? prompts : &qtPrompts;
}

QString QtFileFilter(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(u';')) {
            if (!p.trimmed().isEmpty())
                patterns << p.trimmed();
        }
        if (parts[i].isEmpty() && patterns.isEmpty())
            continue;
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(u' '));
    }
    return filters.join(QStringLiteral(";;"));
}
