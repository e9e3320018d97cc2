#include "app/SettingsStore.h"

#include <QStandardPaths>
#include <QString>

namespace mrvn {

namespace {

// The state file of `path`, or of the platform's settings store when it is empty (none on
// Windows, where that store is the registry).
std::filesystem::path SettingsFile(const std::filesystem::path& path)
{
#ifdef _WIN32
    return path;
#else
    if (!path.empty())
        return path;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toStdString() +
           "/mrvn/mrvntool.conf";
#endif
}

} // namespace

std::unique_ptr<QSettings> OpenSettingsStore(const std::filesystem::path& path)
{
    const std::filesystem::path file = SettingsFile(path);
    std::error_code error;
    const auto type = std::filesystem::symlink_status(file, error).type();
    if (!file.empty() && type != std::filesystem::file_type::not_found &&
        type != std::filesystem::file_type::regular)
        return nullptr;
    if (path.empty())
        return std::make_unique<QSettings>(QStringLiteral("mrvn"), QStringLiteral("mrvntool"));
    return std::make_unique<QSettings>(QString::fromStdString(path.string()), QSettings::IniFormat);
}

} // namespace mrvn
