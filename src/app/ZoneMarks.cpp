#include "app/ZoneMarks.h"

#include "app/Texts.h"

namespace mrvn {

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

std::string ZoneServer(const Zone& zone)
{
    const std::string host = zone.host.empty() ? std::string("localhost") : zone.host;
    if (zone.port == 0)
        return host;
    // An IPv6 address keeps its own colons apart from the port's.
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(zone.port);
}

ZoneMark MarkOf(const Zone& zone)
{
    ZoneMark mark;
    mark.name = Q(zone.name);
    mark.line = Text(kZoneLine).arg(Q(zone.name), Q(ZoneServer(zone)), Q(zone.db));
    mark.audit = {zone.name, ZoneServer(zone), zone.db};
    return mark;
}

MessageRequest InZone(MessageRequest request, const ZoneMark& mark)
{
    request.zone = mark.line;
    return request;
}

QString TitleWithZone(const QString& title, const QString& zoneName)
{
    return title + Text(kZoneTitleSuffix).arg(zoneName);
}

QColor TextColorOn(const QColor& background)
{
    // Perceived brightness (ITU-R BT.601 weights).
    const int brightness =
        (background.red() * 299 + background.green() * 587 + background.blue() * 114) / 1000;
    return brightness > 150 ? QColor(Qt::black) : QColor(Qt::white);
}

QStringList ZoneNoteLines(const std::vector<ZoneNote>& notes)
{
    QStringList lines;
    for (const ZoneNote& note : notes) {
        const QString line = QString::number(note.line);
        const QString text = Q(note.text);
        switch (note.kind) {
        case ZoneNote::Kind::BadLine:
            lines << Text(kZoneNoteBadLine).arg(line, text);
            break;
        case ZoneNote::Kind::BadName:
            lines << Text(kZoneNoteBadName).arg(line, text);
            break;
        case ZoneNote::Kind::DuplicateName:
            lines << Text(kZoneNoteDuplicateName).arg(line, text);
            break;
        case ZoneNote::Kind::UnknownKey:
            lines << Text(kZoneNoteUnknownKey).arg(line, text);
            break;
        case ZoneNote::Kind::UnknownSection:
            lines << Text(kZoneNoteUnknownSection).arg(line, text);
            break;
        case ZoneNote::Kind::DuplicateKey:
            lines << Text(kZoneNoteDuplicateKey).arg(line, text);
            break;
        case ZoneNote::Kind::BadValue:
            lines << Text(kZoneNoteBadValue).arg(line, text, Q(note.value));
            break;
        case ZoneNote::Kind::IgnoredPassword:
            lines << Text(kZoneNoteIgnoredPassword).arg(line, Q(note.zone));
            break;
        case ZoneNote::Kind::MissingZone:
            lines << Text(kZoneNoteMissingZone).arg(line, text);
            break;
        case ZoneNote::Kind::NotUtf8:
            lines << Text(kZoneNoteNotUtf8);
            break;
        case ZoneNote::Kind::Unreadable:
            lines << Text(kZoneNoteUnreadable);
            break;
        case ZoneNote::Kind::NoZones:
            lines << Text(kZoneNoteNoZones);
            break;
        }
    }
    return lines;
}

SecretName ZoneSecretName(const Zone& zone)
{
    return SecretName{zone.host, zone.port ? zone.port : 3306u, zone.user};
}

} // namespace mrvn
