#pragma once

#include "app/DatabaseWorker.h"
#include "app/Texts.h"
#include "db/DbConnection.h"

#include <QString>

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

namespace mrvn {

class Dialogs;
class Keychain;

// Where the tool finds its files and how it talks to the operator; the program uses the
// defaults, tests point them at temporary folders and scripted dialogs.
struct AppEnvironment
{
    explicit AppEnvironment(Dialogs& operatorDialogs) : dialogs(operatorDialogs) {}

    std::filesystem::path configPath;
    std::filesystem::path cataloguePath;
    std::filesystem::path auditLogPath;
    QString versionAddress;
    int versionTimeoutMs = 10000;
    Dialogs& dialogs;
    // Time-outs of the database connection.
    ConnectOptions connectOptions;
    // The interval of 时钟1, which refreshes the statistics and the role list (and reconnects
    // after the server went away); tests make it short.
    int refreshIntervalMs = 60000;
    // Hears every statement the window sends (tests check them); empty: nobody listens.
    DbConnection::StatementObserver statementObserver;
    // Shows the start-up dialog; false when the operator chose to end the program.
    std::function<bool()> startupDialog;
    // Where the window keeps its size, position and last page between runs (an INI file);
    // empty: the user's settings store of the platform (not config.dat, which stays as the
    // tool has always written it).
    std::filesystem::path windowStatePath;
    // The time a mail and its attachments are stamped with (the mail's create and valid
    // time, an item's expiry counted from now); tests set a fixed moment.
    std::function<std::time_t()> clock = [] { return std::time(nullptr); };

    // Where "记住密码" keeps a zone's password (the system's store); empty: no store answers,
    // and keychain zones are asked for their password at connect.
    std::shared_ptr<Keychain> keychain;
    static AppEnvironment Default(Dialogs& dialogs);
};

// The server's own reason for a failure, for the details of a message box:
// "错误号 1045：Access denied for user ...", or the number alone when the text is gone.
inline QString ServerReason(unsigned errorNumber, const std::string& text)
{
    const QString number = QString::fromUtf8(kServerErrorNumber).arg(errorNumber);
    if (text.empty())
        return number;
    return number + QString::fromUtf8(kServerErrorSeparator) +
           QString::fromUtf8(text.data(), qsizetype(text.size()));
}

inline QString ServerReason(const DbError& error)
{
    return ServerReason(error.number, error.text);
}

} // namespace mrvn
