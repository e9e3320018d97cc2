#pragma once

#include "db/DbConnection.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace mrvn::bench {

// A benchmark's own throwaway MariaDB server (scripts/db-server.sh) in a temporary folder,
// stopped and its folder removed when the object goes (its data is up to a few hundred MiB).
// `environment` goes before the script's command ("MRVN_DB_BUFFER_POOL=1G", say). With
// `port` other than 0, a running server on 127.0.0.1 of that port is used instead and left alone.
class BenchServer
{
public:
    explicit BenchServer(const std::string& environment = {}, unsigned port = 0)
    {
        m_params.host = "127.0.0.1";
        m_params.user = "root";
        m_params.password = "739215";
        if (port != 0) {
            m_params.port = port;
            return;
        }
        m_dir =
            std::filesystem::temp_directory_path() / ("mrvn-bench-db-" + std::to_string(getpid()));
        if (std::system((environment + " " + Command("start")).c_str()) != 0) {
            std::fprintf(stderr, "cannot start a server with %s\n", MRVN_DB_SERVER_SCRIPT);
            return;
        }
        std::ifstream(m_dir / "port") >> m_params.port;
        std::ifstream(m_dir / "server.pid") >> m_pid;
    }
    ~BenchServer()
    {
        if (m_dir.empty())
            return;
        (void)std::system(Command("stop").c_str());
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    BenchServer(const BenchServer&) = delete;
    BenchServer& operator=(const BenchServer&) = delete;

    bool Running() const { return m_params.port != 0; }
    // root on 127.0.0.1, no database chosen.
    const ConnectParams& Params() const { return m_params; }
    // The server's process id; 0 for a server not started here.
    int Pid() const { return m_pid; }

private:
    std::string Command(const char* verb) const
    {
        return std::string("'") + MRVN_DB_SERVER_SCRIPT + "' " + verb + " '" + m_dir.string() +
               "' >/dev/null";
    }

    std::filesystem::path m_dir;
    ConnectParams m_params;
    int m_pid = 0;
};

} // namespace mrvn::bench
