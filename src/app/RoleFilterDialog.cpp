#include "app/RoleFilterDialog.h"

#include "app/DatabaseWorker.h"
#include "app/Texts.h"
#include "text/DateTime.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace mrvn {

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// A count is asked for this long after the last change, so typing a level asks once.
constexpr int kCountDelayMs = 300;

} // namespace

RoleFilterBox::RoleFilterBox(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("条件"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    m_online = new QCheckBox(Text(kRoleFilterOnline), this);
    m_online->setObjectName(QStringLiteral("条件在线"));
    m_levelOn = new QCheckBox(Text(kRoleFilterLevel), this);
    m_levelOn->setObjectName(QStringLiteral("条件等级"));
    const auto spin = [this](const char* name, int maximum, int value) {
        auto* box = new QSpinBox(this);
        box->setObjectName(QString::fromUtf8(name));
        box->setRange(0, maximum);
        box->setValue(value);
        box->setMinimumWidth(72);
        return box;
    };
    m_minLevel = spin("条件最低等级", 9999, 1);
    m_maxLevel = spin("条件最高等级", 9999, 100);
    m_offlineOn = new QCheckBox(Text(kRoleFilterOffline), this);
    m_offlineOn->setObjectName(QStringLiteral("条件最近在线"));
    m_offlineDays = spin("条件天数", 36500, 30);
    m_all = new QCheckBox(Text(kRoleFilterAll), this);
    m_all->setObjectName(QStringLiteral("条件全部角色"));
    grid->addWidget(m_online, 0, 0, 1, 4);
    grid->addWidget(m_levelOn, 1, 0);
    grid->addWidget(m_minLevel, 1, 1);
    grid->addWidget(new QLabel(Text(kRoleFilterLevelTo), this), 1, 2);
    grid->addWidget(m_maxLevel, 1, 3);
    grid->addWidget(m_offlineOn, 2, 0);
    grid->addWidget(m_offlineDays, 2, 1);
    grid->addWidget(new QLabel(Text(kRoleFilterOfflineDays), this), 2, 2, 1, 2);
    grid->addWidget(m_all, 3, 0, 1, 4);
    // A wider dialog (the zones' lines) leaves the conditions together at the left.
    grid->setColumnStretch(4, 1);
    for (QCheckBox* box : {m_online, m_levelOn, m_offlineOn, m_all})
        connect(box, &QCheckBox::toggled, this, &RoleFilterBox::Changed);
    for (QSpinBox* box : {m_minLevel, m_maxLevel, m_offlineDays})
        connect(box, &QSpinBox::valueChanged, this, &RoleFilterBox::Changed);
    // "全部角色" and the conditions exclude each other.
    connect(m_all, &QCheckBox::toggled, this, [this](bool all) {
        for (QWidget* condition : std::initializer_list<QWidget*>{
                 m_online, m_levelOn, m_minLevel, m_maxLevel, m_offlineOn, m_offlineDays})
            condition->setEnabled(!all);
    });
    m_online->setChecked(true);
}

RoleFilter RoleFilterBox::Filter() const
{
    RoleFilter filter;
    if (m_all->isChecked())
        return filter;
    filter.online = m_online->isChecked();
    if (m_levelOn->isChecked()) {
        filter.minLevel = m_minLevel->value();
        filter.maxLevel = m_maxLevel->value();
    }
    if (m_offlineOn->isChecked())
        filter.offlineWithinDays = m_offlineDays->value();
    return filter;
}

RoleFilterDialog::RoleFilterDialog(DatabaseWorker& worker, std::function<std::time_t()> clock,
                                   QWidget* parent)
    : QDialog(parent), m_worker(worker), m_clock(std::move(clock))
{
    setObjectName(QStringLiteral("按条件选择角色"));
    setWindowTitle(Text(kRoleFilterTitle));
    auto* layout = new QVBoxLayout(this);
    m_box = new RoleFilterBox(this);
    layout->addWidget(m_box);
    m_countLabel = new QLabel(this);
    m_countLabel->setObjectName(QStringLiteral("条件角色数"));
    layout->addWidget(m_countLabel);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("条件确定"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        emit Chosen(Filter());
        accept();
    });

    m_delay.setSingleShot(true);
    m_delay.setInterval(kCountDelayMs);
    connect(&m_delay, &QTimer::timeout, this, &RoleFilterDialog::Count);
    connect(m_box, &RoleFilterBox::Changed, this, &RoleFilterDialog::ConditionsChanged);
    ConditionsChanged();
}

QString RoleFilterDialog::Describe(const RoleFilter& filter)
{
    if (filter.AllRoles())
        return Text(kFilterDescAll);
    QStringList parts;
    if (filter.online)
        parts << Text(kFilterDescOnline);
    if (filter.minLevel || filter.maxLevel)
        parts << Text(kFilterDescLevel)
                     .arg(filter.minLevel.value_or(0))
                     .arg(filter.maxLevel.value_or(0));
    if (filter.offlineWithinDays)
        parts << Text(kFilterDescOffline).arg(*filter.offlineWithinDays);
    return parts.join(QStringLiteral("、"));
}

void RoleFilterDialog::ConditionsChanged()
{
    m_count = -1;
    m_countLabel->setText(Text(kRoleFilterCounting));
    m_delay.start();
}

void RoleFilterDialog::Count()
{
    const int asked = ++m_asked;
    m_worker.Run(
        this,
        [filter = Filter(), nowMs = ToTimestampMs(m_clock())](DbConnection& db) {
            return CountFilteredRoles(db, filter, nowMs);
        },
        [this, asked](std::optional<std::int64_t> count) {
            if (asked != m_asked)
                return;
            m_count = count.value_or(-1);
            m_countLabel->setText(count ? Text(kRoleFilterCountText).arg(*count)
                                        : Text(kRoleFilterCountFailed));
            emit CountShown(m_count);
        });
}

} // namespace mrvn
