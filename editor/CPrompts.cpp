#include "CPrompts.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

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
