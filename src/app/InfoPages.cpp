#include "app/InfoPages.h"

#include "app/AuditUi.h"
#include "app/Texts.h"

#include <QLabel>
#include <QPlainTextEdit>

namespace mrvn {

AboutPage::AboutPage(const std::filesystem::path& auditLogPath, QWidget* parent) : Page(parent)
{
    auto* about =
        Pin(MakeLabel(this, QStringLiteral("标签5"),
                      FromDesignText("MorvaneOL 数据工具 " MRVN_VERSION_TEXT "\r\n\r\n"
                                     "本工具供私服运营者管理自己的游戏数据库使用：\r\n"
                                     "查看在线统计与全部角色、发放系统邮件、保存邮件存档、\r\n"
                                     "查询物品库以及清理过期数据。\r\n\r\n"
                                     "授权说明：\r\n"
                                     "1. 仅限管理您本人拥有或获准管理的服务器数据。\r\n"
                                     "2. 数据库连接参数保存在程序目录下的 config.dat 中，\r\n"
                                     "   其中的密码为明文，请妥善保管该文件。\r\n"
                                     "3. 清理数据会直接删除数据库中的记录且无法恢复，\r\n"
                                     "   操作之前请先备份数据库。\r\n\r\n"
                                     "作者：Tobrel"),
                      QRect(16, 40, 464, 380)));
    about->setWordWrap(true);

    // Inside the about label's empty lower part, clear of its last line on any font the
    // window uses; selectable, so the operator can copy the path.
    // The folder, where the rotated logs lie too.
    auto* audit = Pin(MakeLabel(this, QStringLiteral("标签操作记录"),
                                QString::fromUtf8(kAuditFolderLabel) +
                                    AuditPathText(auditLogPath.parent_path()) +
                                    QStringLiteral("\n") + QString::fromUtf8(kAuditRotationNote),
                                QRect(16, 300, 464, 32)));
    audit->setWordWrap(true);
    audit->setTextInteractionFlags(Qt::TextSelectableByMouse);
    audit->setToolTip(AuditPathText(auditLogPath));
}

ChangeLogPage::ChangeLogPage(QWidget* parent) : Page(parent)
{
    auto* log = Pin(MakeMultiLineEdit(
        this, QStringLiteral("编辑框21"),
        FromDesignText("v1.5 2014.06.29 更新日志：\r\n"
                       "1.在线角色始终排列在角色列表的最上方。\r\n"
                       "2.新增邮件数据存档，可保存常用的套装物品，双击即可加载。\r\n"
                       "3.新增删除存档与清空物品表功能。\r\n\r\n"
                       "v1.4 2014.06.29 更新日志：\r\n"
                       "1.新增物品库查询，支持中文名称与ID模糊查询。\r\n"
                       "2.新增使用帮助说明。\r\n\r\n"
                       "v1.3 2014.06.28 更新日志：\r\n"
                       "1.修复角色名称乱码的问题，角色名称正确显示。\r\n"
                       "2.新增帐号查询角色ID功能。\r\n\r\n"
                       "v1.2 2014.06.28 更新日志：\r\n"
                       "1.新增装备强化等级的邮件发放。\r\n"
                       "2.新增数据清理功能，可按天数、按角色清理数据。\r\n\r\n"
                       "v1.1 2014.06.27 更新日志：\r\n"
                       "1.新增角色列表右键菜单，可直接发送在线邮件。\r\n"
                       "2.在线数据统计每1分钟自动刷新。\r\n\r\n"
                       "v1.0 2014.06.27 更新日志：\r\n"
                       "1.首个版本：连接数据库、在线数据统计、角色列表、发放系统邮件。"),
        QRect(8, 32, 480, 392), false));
    log->setReadOnly(true);
    DeclareGrowth({{log, Growth::RightAndDown}});
}

} // namespace mrvn
