#pragma once

#include <QString>

#include <cstdint>
#include <filesystem>
#include <vector>

class QWidget;

namespace mrvn {

// The amounts at or above which a mail to one role is asked about before it goes; 0 means
// always ask. Kept in the program's settings store (not config.dat).
struct MailLimits
{
    std::int64_t copper = 1000000;
    std::int64_t yuanbao = 10000;

    bool Reached(std::int64_t copper, std::int64_t yuanbao) const;
};
MailLimits LoadMailLimits(const std::filesystem::path& settingsPath);
bool SaveMailLimits(const std::filesystem::path& settingsPath, const MailLimits& limits);

// What every question before a mail shows, in this order: the server, the receiver count and
// the first receivers by name, 铜钱, 元宝 and each attachment by name and count.
struct MailQuestion
{
    std::size_t receivers = 0;
    struct Receiver
    {
        QString name; // empty: no such role
        QString id;
    };
    std::vector<Receiver> firstReceivers;
    std::int64_t copper = 0;
    std::int64_t yuanbao = 0;
    struct Item
    {
        QString name;
        std::int64_t count = 0;
    };
    std::vector<Item> items;
    MailLimits limits; // amounts at or above them are marked
};
// The question's text: the one place every mail question is worded.
QString MailQuestionText(const MailQuestion& question);
// Its lines about what goes out (money and attachments), for a question that names the
// receivers otherwise (the mail to several zones).
QString MailContentsText(const MailQuestion& question);

// "1,234,567".
QString GroupedNumber(std::int64_t value);

} // namespace mrvn
