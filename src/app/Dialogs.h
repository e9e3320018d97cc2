#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace mrvn {

enum class MessageIcon { None, Information, Warning, Error, Question };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// Every message box, input box and shell-open of the tool goes through this interface, so
// tests can answer them and see what the operator would have seen.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    virtual MessageAnswer Message(QWidget* parent, const QString& text, const QString& title,
                                  MessageIcon icon, MessageButtons buttons) = 0;
    // The text entered, or nothing when the operator cancelled.
    virtual std::optional<QString> Input(QWidget* parent, const QString& prompt,
                                         const QString& title, const QString& initial) = 0;
    // Hands a web address to the desktop's browser.
    virtual void OpenAddress(const QString& address) = 0;
};

// The real dialogs.
class QtDialogs final : public Dialogs
{
public:
    MessageAnswer Message(QWidget* parent, const QString& text, const QString& title,
                          MessageIcon icon, MessageButtons buttons) override;
    std::optional<QString> Input(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& initial) override;
    void OpenAddress(const QString& address) override;
};

} // namespace mrvn
