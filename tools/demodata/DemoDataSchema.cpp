#include "DemoData.h"

#include <array>

namespace mrvn::demo {

namespace {

struct TableDefinition
{
    const char* name;
    const char* body;
};

// user_role keeps the game server's column order: the tool reads positions 0 to 22 of
// "select *", so the order matters more than the names.
const std::array<TableDefinition, 11> kTables = {{
    {"user_role", R"(
        id BIGINT NOT NULL,
        user_guid VARCHAR(64) NOT NULL DEFAULT '',
        name VARCHAR(64) NOT NULL DEFAULT '',
        job VARCHAR(8) NOT NULL DEFAULT 'A',
        sex TINYINT NOT NULL DEFAULT 0,
        exp BIGINT NOT NULL DEFAULT 0,
        level INT NOT NULL DEFAULT 1,
        vip_level INT NOT NULL DEFAULT 0,
        lingqi BIGINT NOT NULL DEFAULT 0,
        map_id INT NOT NULL DEFAULT 1001,
        create_time DATETIME NULL,
        last_login_time BIGINT NOT NULL DEFAULT 0,
        last_offline_time BIGINT NOT NULL DEFAULT 0,
        pos_x INT NOT NULL DEFAULT 0,
        pos_y INT NOT NULL DEFAULT 0,
        hp INT NOT NULL DEFAULT 100,
        mp INT NOT NULL DEFAULT 100,
        guild_id BIGINT NOT NULL DEFAULT 0,
        title_id INT NOT NULL DEFAULT 0,
        pk_value INT NOT NULL DEFAULT 0,
        fight_power BIGINT NOT NULL DEFAULT 0,
        login_count INT NOT NULL DEFAULT 0,
        online_minutes INT NULL DEFAULT 0,
        user_id VARCHAR(64) NOT NULL DEFAULT '',
        server_id INT NOT NULL DEFAULT 1,
        PRIMARY KEY (id),
        KEY idx_user_guid (user_guid),
        KEY idx_user_id (user_id))"},
    {"user_account", R"(
        id BIGINT NOT NULL AUTO_INCREMENT,
        user_guid VARCHAR(64) NOT NULL DEFAULT '',
        user_id VARCHAR(64) NOT NULL DEFAULT '',
        lingshi BIGINT NOT NULL DEFAULT 0,
        total_recharge BIGINT NOT NULL DEFAULT 0,
        create_time DATETIME NULL,
        PRIMARY KEY (id),
        KEY idx_user_guid (user_guid))"},
    {"role_account", R"(
        id BIGINT NOT NULL AUTO_INCREMENT,
        user_role_id BIGINT NOT NULL DEFAULT 0,
        tongqian BIGINT NOT NULL DEFAULT 0,
        bind_lingshi BIGINT NOT NULL DEFAULT 0,
        update_time DATETIME NULL,
        PRIMARY KEY (id),
        KEY idx_user_role_id (user_role_id))"},
    {"system_email", R"(
        id BIGINT NOT NULL,
        title VARCHAR(255) NOT NULL DEFAULT '',
        content TEXT NULL,
        receiver_ids TEXT NULL,
        attachments TEXT NULL,
        jb BIGINT NOT NULL DEFAULT 0,
        yb BIGINT NOT NULL DEFAULT 0,
        create_time BIGINT NOT NULL DEFAULT 0,
        valid_time BIGINT NOT NULL DEFAULT 0,
        PRIMARY KEY (id))"},
    {"role_email", R"(
        id BIGINT NOT NULL AUTO_INCREMENT,
        user_role_id BIGINT NOT NULL DEFAULT 0,
        email_id BIGINT NOT NULL DEFAULT 0,
        state TINYINT NOT NULL DEFAULT 0,
        receive_time BIGINT NOT NULL DEFAULT 0,
        log_update_time DATETIME NULL,
        PRIMARY KEY (id),
        KEY idx_user_role_id (user_role_id))"},
    {"server_real_time_total_data", R"(
        id BIGINT NOT NULL AUTO_INCREMENT,
        today_create INT NOT NULL DEFAULT 0,
        today_login INT NOT NULL DEFAULT 0,
        online_count INT NOT NULL DEFAULT 0,
        log_update_time DATETIME NULL,
        PRIMARY KEY (id))"},
    {"log_role_login", R"(
        id BIGINT NOT NULL AUTO_INCREMENT,
        user_role_id BIGINT NOT NULL DEFAULT 0,
        login_ip VARCHAR(45) NOT NULL DEFAULT '',
        login_time BIGINT NOT NULL DEFAULT 0,
        logout_time BIGINT NOT NULL DEFAULT 0,
        log_update_time DATETIME NULL,
        PRIMARY KEY (id),
        KEY idx_user_role_id (user_role_id),
        KEY idx_log_update_time (log_update_time))"},
    {"log_item_change", R"(
        id BIGINT NOT NULL AUTO_INCREMENT,
        user_role_id BIGINT NOT NULL DEFAULT 0,
        item_id INT NOT NULL DEFAULT 0,
        change_count INT NOT NULL DEFAULT 0,
        reason VARCHAR(64) NOT NULL DEFAULT '',
        log_update_time DATETIME NULL,
        PRIMARY KEY (id),
        KEY idx_user_role_id (user_role_id),
        KEY idx_log_update_time (log_update_time))"},
    {"log_money_change", R"(
        id BIGINT NOT NULL AUTO_INCREMENT,
        user_role_id BIGINT NOT NULL DEFAULT 0,
        money_type TINYINT NOT NULL DEFAULT 0,
        amount BIGINT NOT NULL DEFAULT 0,
        remain BIGINT NOT NULL DEFAULT 0,
        reason VARCHAR(64) NOT NULL DEFAULT '',
        log_update_time DATETIME NULL,
        PRIMARY KEY (id),
        KEY idx_user_role_id (user_role_id),
        KEY idx_log_update_time (log_update_time))"},
    {"log_chat", R"(
        id BIGINT NOT NULL AUTO_INCREMENT,
        user_role_id BIGINT NOT NULL DEFAULT 0,
        channel TINYINT NOT NULL DEFAULT 0,
        message VARCHAR(255) NOT NULL DEFAULT '',
        log_update_time DATETIME NULL,
        PRIMARY KEY (id),
        KEY idx_user_role_id (user_role_id))"},
    // A configuration table: neither a time stamp nor a role, so the cleanup's statements
    // are refused on it.
    {"server_config", R"(
        id INT NOT NULL AUTO_INCREMENT,
        config_key VARCHAR(64) NOT NULL DEFAULT '',
        config_value VARCHAR(255) NOT NULL DEFAULT '',
        PRIMARY KEY (id),
        UNIQUE KEY uk_config_key (config_key))"},
}};

} // namespace

std::vector<std::string> GameTables()
{
    std::vector<std::string> names;
    for (const auto& table : kTables)
        names.emplace_back(table.name);
    return names;
}

bool CreateGameSchema(DbConnection& db)
{
    for (const auto& table : kTables) {
        const std::string sql = std::string("CREATE TABLE IF NOT EXISTS ") +
                                DbConnection::QuoteIdentifier(table.name) + " (" + table.body +
                                ") ENGINE=InnoDB DEFAULT CHARSET=utf8mb4";
        if (!db.ExecSql(sql))
            return false;
    }
    return true;
}

} // namespace mrvn::demo
