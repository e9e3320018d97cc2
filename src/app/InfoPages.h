#pragma once

#include "app/Page.h"

#include <filesystem>

namespace mrvn {

// Page 3 "关于授权": a static text, and below it where the audit log is kept.
class AboutPage : public Page
{
    Q_OBJECT
public:
    explicit AboutPage(const std::filesystem::path& auditLogPath, QWidget* parent = nullptr);
};

// Page 4 "更新说明": the change log in a read-only box.
class ChangeLogPage : public Page
{
    Q_OBJECT
public:
    explicit ChangeLogPage(QWidget* parent = nullptr);
};

} // namespace mrvn
