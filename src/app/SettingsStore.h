#pragma once

#include <QSettings>

#include <filesystem>
#include <memory>

namespace mrvn {

// The program's own settings store (window state, mail limits): the INI file at `path`, or
// the user's settings store of the platform when it is empty. Not config.dat, which stays as
// the tool has always written it. Nothing when the file exists but is no regular file of its
// own (a FIFO would hold the start-up until something wrote to it; a link leads elsewhere).
std::unique_ptr<QSettings> OpenSettingsStore(const std::filesystem::path& path);

} // namespace mrvn
