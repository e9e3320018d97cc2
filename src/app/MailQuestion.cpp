#include "app/MailQuestion.h"

#include "app/SettingsStore.h"
#include "app/Texts.h"

namespace mrvn {

namespace {

const QString kCopperKey = QStringLiteral("mail/copperLimit");
const QString kYuanbaoKey = QStringLiteral("mail/yuanbaoLimit");

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// A stored limit that is no number, or below 0, is the default.
std::int64_t StoredLimit(const QSettings& store, const QString& key, std::int64_t fallback)
{
    bool ok = false;
    const qlonglong value = store.value(key).toLongLong(&ok);
    return ok && value >= 0 ? value : fallback;
}

} // namespace

bool MailLimits::Reached(std::int64_t copperAmount, std::int64_t yuanbaoAmount) const
{
    return copperAmount >= copper || yuanbaoAmount >= yuanbao;
}

MailLimits LoadMailLimits(const std::filesystem::path& settingsPath)
{
    MailLimits limits;
    const std::unique_ptr<QSettings> store = OpenSettingsStore(settingsPath);
    if (!store)
        return limits;
    limits.copper = StoredLimit(*store, kCopperKey, limits.copper);
    limits.yuanbao = StoredLimit(*store, kYuanbaoKey, limits.yuanbao);
    return limits;
}

bool SaveMailLimits(const std::filesystem::path& settingsPath, const MailLimits& limits)
{
    const std::unique_ptr<QSettings> store = OpenSettingsStore(settingsPath);
    if (!store)
        return false;
    store->setValue(kCopperKey, static_cast<qlonglong>(limits.copper));
    store->setValue(kYuanbaoKey, static_cast<qlonglong>(limits.yuanbao));
    store->sync();
    return store->status() == QSettings::NoError;
}

QString GroupedNumber(std::int64_t value)
{
    const bool negative = value < 0;
    // Digits of the magnitude; the most negative number has no positive twin.
    QString digits = QString::number(static_cast<qulonglong>(
        negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value)));
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QLatin1Char(','));
    return negative ? QLatin1Char('-') + digits : digits;
}

QString MailQuestionText(const MailQuestion& question)
{
    QString text = Text(kManyConfirmText).arg(question.receivers);
    for (const MailQuestion::Receiver& receiver : question.firstReceivers) {
        const QString name = receiver.name.isEmpty() ? Text(kManyUnknownRole) : receiver.name;
        text += Text(kManyConfirmRole).arg(name, receiver.id);
    }
    if (question.receivers > question.firstReceivers.size())
        text += Text(kManyConfirmMore);
    return text + MailContentsText(question);
}

QString MailContentsText(const MailQuestion& question)
{
    QString text;
    const auto amount = [](std::int64_t value, std::int64_t limit) {
        QString shown = GroupedNumber(value);
        // A limit of 0 asks about every mail: there is nothing to point out then.
        if (limit > 0 && value >= limit)
            shown += Text(kMailQuestionAtLimit).arg(GroupedNumber(limit));
        return shown;
    };
    text += Text(kMailQuestionCopper).arg(amount(question.copper, question.limits.copper));
    text += Text(kMailQuestionYuanbao).arg(amount(question.yuanbao, question.limits.yuanbao));
    if (question.items.empty()) {
        text += Text(kMailQuestionNoItems);
        return text;
    }
    text += Text(kMailQuestionItems).arg(question.items.size());
    for (const MailQuestion::Item& item : question.items)
        text += Text(kMailQuestionItem).arg(item.name, GroupedNumber(item.count));
    return text;
}

} // namespace mrvn
