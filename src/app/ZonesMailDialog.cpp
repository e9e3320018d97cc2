#include "app/ZonesMailDialog.h"

#include "app/Texts.h"
#include "app/ZoneMarks.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace mrvn {

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

// The zone's name sits in the item's data: its text may carry a mark after it.
constexpr int kZoneNameRole = Qt::UserRole;

} // namespace

ZonesMailDialog::ZonesMailDialog(const ZoneList& zones, const std::map<std::string, bool>& reached,
                                 const std::vector<std::string>& retry, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("多区服发送"));
    setWindowTitle(Text(kZonesMailTitle));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(Text(kZonesMailZonesLabel), this));
    m_zones = new QListWidget(this);
    m_zones->setObjectName(QStringLiteral("多区服列表"));
    const Zone* inUse = CurrentZone(zones);
    for (const Zone& zone : zones.zones) {
        const auto done = std::find_if(reached.begin(), reached.end(), [&](const auto& entry) {
            return SameZoneName(entry.first, zone.name);
        });
        QString text = MarkOf(zone).line;
        if (done != reached.end())
            text += Text(done->second ? kZonesMailDoneMark : kZonesMailPartMark);
        auto* item = new QListWidgetItem(text, m_zones);
        item->setData(kZoneNameRole, QString::fromStdString(zone.name));
        const bool again = std::any_of(retry.begin(), retry.end(), [&](const std::string& name) {
            return SameZoneName(name, zone.name);
        });
        const bool checked =
            done == reached.end() && (retry.empty() ? inUse && inUse->name == zone.name : again);
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
        if (done != reached.end())
            item->setFlags(item->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable));
    }
    // Every zone's line whole: the server and database tell zones of the same name apart.
    m_zones->setMinimumWidth(m_zones->sizeHintForColumn(0) + 2 * m_zones->frameWidth() +
                             m_zones->verticalScrollBar()->sizeHint().width());
    layout->addWidget(m_zones);
    layout->addWidget(new QLabel(Text(kZonesMailFilterLabel), this));
    m_filter = new RoleFilterBox(this);
    layout->addWidget(m_filter);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("多区服确定"));
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    // Nothing to send to: OK waits for a zone to be checked.
    const auto anyChecked = [this, ok = buttons->button(QDialogButtonBox::Ok)] {
        ok->setEnabled(!Chosen().empty());
        ok->setToolTip(Chosen().empty() ? Text(kZonesMailNoZone) : QString());
    };
    connect(m_zones, &QListWidget::itemChanged, this, anyChecked);
    anyChecked();
}

std::vector<std::string> ZonesMailDialog::Chosen() const
{
    std::vector<std::string> names;
    for (int row = 0; row < m_zones->count(); ++row) {
        const QListWidgetItem* item = m_zones->item(row);
        if (item->checkState() == Qt::Checked && (item->flags() & Qt::ItemIsEnabled))
            names.push_back(item->data(kZoneNameRole).toString().toStdString());
    }
    return names;
}

} // namespace mrvn
