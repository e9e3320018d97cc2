#pragma once

#include "app/RoleFilterDialog.h"
#include "config/Zones.h"

#include <QDialog>

#include <map>
#include <string>
#include <vector>

class QListWidget;

namespace mrvn {

// "发送到多个区服…": the zones the page's mail goes to, and the conditions that choose its
// receivers in each of them. A zone this mail already reached earlier (`reached`, by zone name:
// true for every receiver sent, false for part of them) is shown so and cannot be chosen, so a
// second run for the zones that failed never sends to a zone twice; the zones of that earlier
// run that got nothing start checked (`retry`), else the zone in use.
class ZonesMailDialog : public QDialog
{
    Q_OBJECT
public:
    ZonesMailDialog(const ZoneList& zones, const std::map<std::string, bool>& reached,
                    const std::vector<std::string>& retry, QWidget* parent = nullptr);

    // The zones checked, in the list's order.
    std::vector<std::string> Chosen() const;
    RoleFilter Filter() const { return m_filter->Filter(); }

private:
    QListWidget* m_zones;
    RoleFilterBox* m_filter;
};

} // namespace mrvn
