#pragma once

#include "app/Page.h"

namespace mrvn {

// Page 3 "关于授权": a static text.
class AboutPage : public Page
{
    Q_OBJECT
public:
    explicit AboutPage(QWidget* parent = nullptr);
};

// Page 4 "更新说明": the change log in a read-only box.
class ChangeLogPage : public Page
{
    Q_OBJECT
public:
    explicit ChangeLogPage(QWidget* parent = nullptr);
};

} // namespace mrvn
