#pragma once

#include <QString>

#include <optional>

class QMessageBox;
class QWidget;

namespace mrvn {

enum class MessageIcon { None, Information, Warning, Error, Question };
// YesNoDefaultNo: Enter and Esc both answer No; for questions whose Yes deletes or sends.
enum class MessageButtons { Ok, YesNo, YesNoDefaultNo };
enum class MessageAnswer { Ok, Yes, No };

// One message box as the operator sees it.
struct MessageRequest
{
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::Ok;
    // Shown behind the box's "details" button (the server's own reason, for example); the
    // visible text stays as it is.
    QString details = {};
    // A second, smaller text under the first (what the question is about, for example).
    QString informative = {};
    // The zone a question or result of a mail or a cleanup is about (ZoneMark's line):
    // shown as the box's first line, above the text.
    QString zone = {};
};

// The text a message box shows: the zone's line first, when there is one.
QString ShownText(const MessageRequest& request);

// Every message box, input box and shell-open of the tool goes through this interface, so
// tests can answer them and see what the operator would have seen.
class Dialogs
{
public:
    virtual ~Dialogs() = default;
    MessageAnswer Message(QWidget* parent, const QString& text, const QString& title,
                          MessageIcon icon, MessageButtons buttons,
                          const QString& details = QString())
    {
        return Show(parent, MessageRequest{text, title, icon, buttons, details, QString()});
    }
    virtual MessageAnswer Show(QWidget* parent, const MessageRequest& request) = 0;
    // The text entered, or nothing when the operator cancelled.
    virtual std::optional<QString> Input(QWidget* parent, const QString& prompt,
                                         const QString& title, const QString& initial) = 0;
    // A secret typed into a box that hides it (a password, a key's passphrase); nothing when
    // the operator cancelled.
    virtual std::optional<QString> Secret(QWidget* parent, const QString& prompt,
                                          const QString& title) = 0;
    // The file chosen in an open dialog, or nothing when the operator cancelled.
    virtual std::optional<QString> OpenFileName(QWidget* parent, const QString& title,
                                                const QString& filter) = 0;
    // Hands a web address to the desktop's browser; false when no browser took it.
    virtual bool OpenAddress(const QString& address) = 0;
    // The file chosen in a save dialog (title, suggested name, name filter such as
    // "CSV 文件 (*.csv)"), or nothing when the operator cancelled.
    virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& title,
                                                const QString& suggested,
                                                const QString& filter) = 0;
};

// Widens `box` so that its title bar shows `title` whole.
void KeepTitleWhole(QMessageBox& box, const QString& title);
// Sets up `box` as QtDialogs shows `request` (texts, icon, buttons), without showing it.
void PrepareMessageBox(QMessageBox& box, const MessageRequest& request);

// The real dialogs.
class QtDialogs final : public Dialogs
{
public:
    MessageAnswer Show(QWidget* parent, const MessageRequest& request) override;
    std::optional<QString> Input(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& initial) override;
    std::optional<QString> Secret(QWidget* parent, const QString& prompt,
                                  const QString& title) override;
    std::optional<QString> OpenFileName(QWidget* parent, const QString& title,
                                        const QString& filter) override;
    bool OpenAddress(const QString& address) override;
    std::optional<QString> SaveFileName(QWidget* parent, const QString& title,
                                        const QString& suggested, const QString& filter) override;
};

} // namespace mrvn
