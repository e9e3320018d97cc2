// mrvn-demo-fill: creates (when needed) a game database with the game's tables and fills it
// with demo content.
#include "DemoData.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage()
{
    std::fprintf(stderr, "usage: mrvn-demo-fill --host H --port P --user U --password W "
                         "--database D [--roles N] [--seed S]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    mrvn::ConnectParams params;
    std::string database;
    mrvn::demo::DemoOptions options;
    options.roles = 300;
    for (int i = 1; i < argc; ++i) {
        const char* option = argv[i];
        if (i + 1 >= argc)
            return Usage();
        const char* value = argv[++i];
        if (std::strcmp(option, "--host") == 0)
            params.host = value;
        else if (std::strcmp(option, "--port") == 0)
            params.port = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
        else if (std::strcmp(option, "--user") == 0)
            params.user = value;
        else if (std::strcmp(option, "--password") == 0)
            params.password = value;
        else if (std::strcmp(option, "--database") == 0)
            database = value;
        else if (std::strcmp(option, "--roles") == 0)
            options.roles = std::atoi(value);
        else if (std::strcmp(option, "--seed") == 0)
            options.seed = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
        else
            return Usage();
    }
    if (database.empty() || options.roles < 0)
        return Usage();

    mrvn::DbConnection db;
    // A freshly started server may take a moment to answer; filling many roles is one long
    // transaction.
    mrvn::ConnectOptions connectOptions;
    connectOptions.connectTimeoutSeconds = 10;
    connectOptions.readTimeoutSeconds = 600;
    if (!db.Connect(params, connectOptions)) {
        std::fprintf(stderr, "mrvn-demo-fill: cannot connect: error %u\n", db.LastError());
        return 1;
    }
    const std::string quoted = mrvn::DbConnection::QuoteIdentifier(database);
    if (!db.ExecSql("CREATE DATABASE IF NOT EXISTS " + quoted + " DEFAULT CHARACTER SET utf8mb4") ||
        !db.ExecSql("USE " + quoted)) {
        std::fprintf(stderr, "mrvn-demo-fill: database %s: %s\n", database.c_str(),
                     db.LastErrorText().c_str());
        return 1;
    }
    if (!mrvn::demo::CreateGameSchema(db) || !mrvn::demo::FillDemoData(db, options)) {
        std::fprintf(stderr, "mrvn-demo-fill: %s\n", db.LastErrorText().c_str());
        return 1;
    }
    std::printf("mrvn-demo-fill: %d roles in %s\n", options.roles, database.c_str());
    return 0;
}
