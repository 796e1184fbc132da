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
};

// QMessageBox with German button texts.
class MessageBoxPrompts : public Prompts
{
public:
    PromptAnswer ask(QWidget* parent, const QString& text, PromptIcon icon, PromptButtons buttons) override;
};

} // namespace kadmel
