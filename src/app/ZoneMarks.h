#pragma once

#include "app/Dialogs.h"
#include "audit/AuditLog.h"
#include "config/Zones.h"
#include "secrets/Keychain.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <string>
#include <vector>

// How the window names the zone its work goes to: the title, the status label, the colour
// strip, the first line of the questions and results of a mail or a cleanup, and the audit
// records. One place, so every mark says the same.
namespace mrvn {

// "10.0.0.5:3306"; the host alone for the client library's default port, "localhost" for
// an empty host (where the library connects then).
std::string ZoneServer(const Zone& zone);

// The keychain's name of a zone's database password: its host, port (3306 for the default)
// and user.
SecretName ZoneSecretName(const Zone& zone);

// What a page needs to name the zone its work goes to (not the zone's password).
struct ZoneMark
{
    QString name;
    QString line; // "区服：二区（10.0.0.5:3306 / mrvn2）"
    AuditZone audit;
};
ZoneMark MarkOf(const Zone& zone);

// The question or result about the zone of `mark`: its first line names the zone.
MessageRequest InZone(MessageRequest request, const ZoneMark& mark);

// The window's title with the zone's name at its end.
QString TitleWithZone(const QString& title, const QString& zoneName);

// Black or white, whichever reads better on `background`.
QColor TextColorOn(const QColor& background);

// What reading zones.ini skipped, one line each as the operator reads it.
QStringList ZoneNoteLines(const std::vector<ZoneNote>& notes);

} // namespace mrvn
