#include "ui/Prompts.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

namespace kadmel {

QString programTitle()
{
    return QStringLiteral("Kadmel Mail System");
}

PromptAnswer MessageBoxPrompts::ask(QWidget* parent, const QString& text, PromptIcon icon, PromptButtons buttons)
{
    return run(parent, text, icon, buttons, {}, nullptr);
}

PromptAnswer MessageBoxPrompts::askWithCheck(QWidget* parent, const QString& text, const QString& checkText,
                                             bool& checked)
{
    return run(parent, text, PromptIcon::Question, PromptButtons::OkCancel, checkText, &checked);
}

PromptAnswer MessageBoxPrompts::run(QWidget* parent, const QString& text, PromptIcon icon, PromptButtons buttons,
                                    const QString& checkText, bool* checked)
{
    QMessageBox box(parent);
    if (checked)
        box.setCheckBox(new QCheckBox(checkText, &box));
    box.setWindowTitle(programTitle());
    box.setText(text);
    switch (icon) {
    case PromptIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case PromptIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case PromptIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    }
    // The buttons carry the program's own German texts, whatever translation Qt has loaded.
    QPushButton* first = nullptr;
    QPushButton* second = nullptr;
    switch (buttons) {
    case PromptButtons::Ok:
        first = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        break;
    case PromptButtons::OkCancel:
        first = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        second = box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
        break;
    case PromptButtons::RetryOrEnd:
        first = box.addButton(QStringLiteral("Wiederholen"), QMessageBox::AcceptRole);
        second = box.addButton(QStringLiteral("Trotzdem beenden"), QMessageBox::DestructiveRole);
        break;
    }
    box.setDefaultButton(first);
    if (second)
        box.setEscapeButton(second);
    box.exec();
    if (checked)
        *checked = box.checkBox()->isChecked();
    const bool firstChosen = box.clickedButton() == first;
    switch (buttons) {
    case PromptButtons::Ok:
        return PromptAnswer::Ok;
    case PromptButtons::OkCancel:
        return firstChosen ? PromptAnswer::Ok : PromptAnswer::Cancel;
    case PromptButtons::RetryOrEnd:
        return firstChosen ? PromptAnswer::Retry : PromptAnswer::EndAnyway;
    }
    return PromptAnswer::Cancel;
}

} // namespace kadmel
