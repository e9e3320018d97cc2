#pragma once

#include "db/RoleFilter.h"

#include <QDialog>
#include <QTimer>

#include <ctime>
#include <functional>

class QCheckBox;
class QLabel;
class QSpinBox;

namespace mrvn {

class DatabaseWorker;

// The conditions of "按条件选择角色…" as a block of their own, so that every dialog that
// chooses receivers by condition offers the same ones (this dialog, and the mail to several
// zones). Starts with "online now" checked.
class RoleFilterBox : public QWidget
{
    Q_OBJECT
public:
    explicit RoleFilterBox(QWidget* parent = nullptr);
    RoleFilter Filter() const;

signals:
    void Changed();

private:
    QCheckBox* m_online;
    QCheckBox* m_levelOn;
    QSpinBox* m_minLevel;
    QSpinBox* m_maxLevel;
    QCheckBox* m_offlineOn;
    QSpinBox* m_offlineDays;
    QCheckBox* m_all;
};

// "按条件选择角色…": online now, level from–to, online within the last N days, or every
// role. The count of roles that meet the conditions is asked of the server (on the database
// thread) a moment after each change and shown under them; OK hands the conditions on, the
// set of roles itself is taken when the mail is sent.
class RoleFilterDialog : public QDialog
{
    Q_OBJECT
public:
    RoleFilterDialog(DatabaseWorker& worker, std::function<std::time_t()> clock,
                     QWidget* parent = nullptr);

    RoleFilter Filter() const { return m_box->Filter(); }
    // The conditions in a few words ("在线、等级 10–20").
    static QString Describe(const RoleFilter& filter);
    // The last count shown (-1 while counting or when it failed).
    qint64 ShownCount() const { return m_count; }

signals:
    void Chosen(const RoleFilter& filter);
    void CountShown(qint64 count);

private:
    void ConditionsChanged();
    void Count();

    DatabaseWorker& m_worker;
    std::function<std::time_t()> m_clock;
    RoleFilterBox* m_box;
    QLabel* m_countLabel;
    QTimer m_delay;
    qint64 m_count = -1;
    int m_asked = 0; // counts asked for; only the last one's answer is shown
};

} // namespace mrvn
