#include "app/Dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace mrvn {

void KeepTitleWhole(QMessageBox& box, const QString& title)
{
    // A box is as wide as its text; a short text under a longer title would cut the title
    // ("导…"). The title bar also holds the window's icon and buttons: room for them too.
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr)
        return;
    const int width = box.fontMetrics().horizontalAdvance(title) + 160;
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

QString ShownText(const MessageRequest& request)
{
    if (request.zone.isEmpty())
        return request.text;
    return request.zone + QLatin1Char('\n') + request.text;
}

void PrepareMessageBox(QMessageBox& box, const MessageRequest& request)
{
    box.setWindowTitle(request.title);
    box.setText(ShownText(request));
    if (!request.informative.isEmpty())
        box.setInformativeText(request.informative);
    if (!request.details.isEmpty())
        box.setDetailedText(request.details);
    switch (request.icon) {
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Warning:
        box.setIcon(QMessageBox::Warning);
        break;
    case MessageIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    if (request.buttons != MessageButtons::Ok) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(request.buttons == MessageButtons::YesNo ? QMessageBox::Yes
                                                                      : QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    KeepTitleWhole(box, request.title);
}

MessageAnswer QtDialogs::Show(QWidget* parent, const MessageRequest& request)
{
    QMessageBox box(parent);
    PrepareMessageBox(box, request);
    const int answer = box.exec();
    if (request.buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

std::optional<QString> QtDialogs::Input(QWidget* parent, const QString& prompt,
                                        const QString& title, const QString& initial)
{
    bool ok = false;
    QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

std::optional<QString> QtDialogs::Secret(QWidget* parent, const QString& prompt,
                                         const QString& title)
{
    bool ok = false;
    QString text = QInputDialog::getText(parent, title, prompt, QLineEdit::Password, {}, &ok);
    if (!ok)
        return std::nullopt;
    return text;
}

std::optional<QString> QtDialogs::OpenFileName(QWidget* parent, const QString& title,
                                               const QString& filter)
{
    const QString file = QFileDialog::getOpenFileName(parent, title, {}, filter);
    if (file.isEmpty())
        return std::nullopt;
    return file;
}

bool QtDialogs::OpenAddress(const QString& address)
{
    return QDesktopServices::openUrl(QUrl(address, QUrl::StrictMode));
}

std::optional<QString> QtDialogs::SaveFileName(QWidget* parent, const QString& title,
                                               const QString& suggested, const QString& filter)
{
    const QString file = QFileDialog::getSaveFileName(parent, title, suggested, filter);
    if (file.isEmpty())
        return std::nullopt;
    return file;
}

} // namespace mrvn
