#pragma once

#include <QString>

class QWidget;

namespace kadmel {

// Caption of every message box of the program.
QString programTitle();

enum class PromptIcon
{
    Question,
    Exclamation,
    Critical
};
enum class PromptButtons
{
    Ok,
    OkCancel,
    RetryOrEnd, // "Wiederholen" / "Trotzdem beenden"
};
enum class PromptAnswer
{
    Ok,
    Cancel,
    Retry,
    EndAnyway
};

// The program's message boxes; tests answer them through their own implementation.
class Prompts
{
public:
    virtual ~Prompts() = default;
    virtual PromptAnswer ask(QWidget* parent, const QString& text, PromptIcon icon, PromptButtons buttons) = 0;
    // A question with OK and "Abbrechen" and a box below it ("nicht mehr fragen"); `checked` is what the box
    // shows at the end. Without a box of its own, the plain question.
    virtual PromptAnswer askWithCheck(QWidget* parent, const QString& text, const QString& checkText, bool& checked)
    {
        Q_UNUSED(checkText);
        checked = false;
        return ask(parent, text, PromptIcon::Question, PromptButtons::OkCancel);
    }
};

// QMessageBox with German button texts.
class MessageBoxPrompts : public Prompts
{
public:
    PromptAnswer ask(QWidget* parent, const QString& text, PromptIcon icon, PromptButtons buttons) override;
    PromptAnswer askWithCheck(QWidget* parent, const QString& text, const QString& checkText, bool& checked) override;

private:
    PromptAnswer run(QWidget* parent, const QString& text, PromptIcon icon, PromptButtons buttons,
                     const QString& checkText, bool* checked);
};

} // namespace kadmel
