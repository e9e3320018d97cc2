#pragma once

#include "Version.h"
#include "db/ConnectFailure.h"

#include <cstdint>
#include <string>
#include <string_view>

// Every message, title, prompt and status text the operator reads, in UTF-8, grouped by the
// page that shows it. The logic returns results and enums; the pages word them from here.
// Control captions and column headings stay beside the controls they are laid out with.
// Plain C++ on purpose: the module tests that check a wording include it without Qt.
namespace mrvn {

// Titles more than one page uses.
inline constexpr char kCheckTitle[] = "检测消息";
inline constexpr char kMessageTitle[] = "消息";
inline constexpr char kDeleteConfirmTitle[] = "删除确认";

// Refusals of typed input, on the mail page (items and archives).
inline constexpr char kForbiddenCharText[] = "含有被禁止的字符，请返回修改！";
inline constexpr char kInputErrorText[] = "输入错误，请返回修改！";
inline constexpr char kNegativeNumberText[] = "数值不能为负数，请返回修改！";
// A number too large for its box: "%1" is the box's caption.
inline constexpr char kNumberTooLargeText[] = "%1的数值过大，请返回修改！";
inline constexpr char kCopperBoxName[] = "铜钱";
inline constexpr char kYuanbaoBoxName[] = "非绑定元宝";
inline constexpr char kCountBoxName[] = "数量";
inline constexpr char kUseLevelBoxName[] = "使用等级";
inline constexpr char kDaysBoxName[] = "使用期限";

// Common page: the connection.
inline constexpr char kPortOutOfRangeText[] =
    "端口号超出范围！请填写1到65535之间的数字（不填为默认端口）。";
// A failed connect, by what the client said; only what the operator typed can cause the last
// three, so only they send the operator to the settings.
inline constexpr const char* ConnectFailureText(ConnectFailure failure)
{
    switch (failure) {
    case ConnectFailure::NoAnswer:
        return "mysql连接错误！服务器没有响应（可能正忙或已停止响应），请稍后重试！";
    case ConnectFailure::Unreachable:
        return "mysql连接错误！无法连接到服务器（服务器未启动、地址无法解析或网络不通）！";
    case ConnectFailure::LoginRefused:
        return "mysql连接错误！用户名或密码错误，请检查连接参数！";
    case ConnectFailure::NoDatabase:
        return "mysql连接错误！数据库不存在，请检查连接参数中的数据库名！";
    case ConnectFailure::HostNotAllowed:
        return "mysql连接错误！服务器不允许该用户从本机连接，请检查连接参数或服务器上的用户权限！";
    case ConnectFailure::TlsNotOffered:
        return "mysql连接错误！该区服要求加密连接（TLS），但服务器不支持加密，未发送任何登录信息。请在服务器上启用TLS，或改用SSH隧道！";
    case ConnectFailure::TlsRequiredByServer:
        return "mysql连接错误！服务器只接受加密连接，请在“管理区服”中为该区服打开TLS！";
    case ConnectFailure::TlsHandshakeFailed:
        return "mysql连接错误！与服务器的加密握手（TLS）失败，原因见详细信息。";
    case ConnectFailure::TlsCaFileUnreadable:
        return "mysql连接错误！所选的CA证书文件无法读取或不含证书，请在“管理区服”中重新选择！";
    case ConnectFailure::CertificateUntrusted:
        return "mysql连接错误！服务器证书不是由受信任的CA签发（或已过期），连接已拒绝！";
    case ConnectFailure::CertificateNameMismatch:
        return "mysql连接错误！服务器证书不是为该主机名签发的，连接已拒绝！";
    case ConnectFailure::CertificateChanged:
        return "mysql连接错误！服务器证书与首次连接时记住的不一致，连接已拒绝！若服务器确实更换了证书，请核对后在“管理区服”中清除记住的指纹。";
    case ConnectFailure::SecureLoginNeeded:
        return "mysql连接错误！服务器的登录方式（caching_sha2_password）不允许以未加密的连接首次登录，请为该区服打开TLS或使用SSH隧道！";
    case ConnectFailure::SshUnreachable:
        return "SSH连接错误！无法连接到SSH服务器（未启动、地址无法解析、端口被拒绝或网络不通）！";
    case ConnectFailure::SshHostKeyChanged:
        return "SSH连接错误！SSH服务器的主机密钥与首次连接时记住的不一致，连接已拒绝！若服务器确实更换了密钥，请核对后在“管理区服”中清除记住的指纹。";
    case ConnectFailure::SshKeyUnreadable:
        return "SSH连接错误！密钥文件不存在或不是私钥，请在“管理区服”中重新选择！";
    case ConnectFailure::SshKeyPassphraseWrong:
        return "SSH连接错误！密钥文件的口令不正确！";
    case ConnectFailure::SshLoginRefused:
        return "SSH连接错误！SSH服务器拒绝了登录（用户名、密钥或密码不被接受）！";
    case ConnectFailure::SshForwardRefused:
        return "SSH连接错误！SSH服务器不允许转发到数据库的地址和端口！";
    case ConnectFailure::SshFailed:
        return "SSH连接错误！SSH连接失败，原因见详细信息。";
    case ConnectFailure::NeedsOperator:
    case ConnectFailure::Other:
        break;
    }
    return "mysql连接错误！服务器拒绝了连接，原因见详细信息。";
}
// The first connect of a zone shows the server's certificate or host key once: the operator
// compares the fingerprint with the server's own before it is kept in zones.ini.
inline constexpr char kTlsFingerprintQuestion[] =
    "首次以加密方式连接该区服的数据库。请与服务器上的证书指纹核对（SHA-256），一致才选“是”：记住该证书并连接；选“否”则不连接。";
inline constexpr char kSshFingerprintQuestion[] =
    "首次通过SSH隧道连接该区服。请与SSH服务器的主机密钥指纹核对，一致才选“是”：记住该主机密钥并连接；选“否”则不连接。";
inline constexpr char kFingerprintTitle[] = "核对指纹";
inline constexpr char kFingerprintShown[] = "指纹：%1";
// A refused certificate or host key names what was kept and what the server showed now.
inline constexpr char kFingerprintsBoth[] = "记住的指纹：%1\n本次的指纹：%2";
inline constexpr char kPasswordTitle[] = "输入密码";
inline constexpr char kPasswordPromptAsk[] = "该区服设置为每次连接时询问密码（不保存）。\n%1 的数据库密码：";
inline constexpr char kPasswordPromptNotStored[] =
    "系统钥匙串中还没有该区服的密码，连接成功后将保存到钥匙串。\n%1 的数据库密码：";
inline constexpr char kPasswordPromptNoKeychain[] =
    "系统钥匙串不可用（%2），本次连接请输入密码（不会写入文件）。\n%1 的数据库密码：";
inline constexpr char kSshPasswordPrompt[] = "SSH服务器 %1 的登录密码（不保存）：";
inline constexpr char kSshPassphrasePrompt[] = "密钥文件 %1 已加密，请输入其口令（不保存）：";
inline constexpr char kSshPassphraseWrongPrompt[] = "口令不正确。密钥文件 %1 的口令：";
inline constexpr char kKeychainNotSavedText[] =
    "已连接，但密码未能保存到系统钥匙串，下次连接将再次询问！";
inline constexpr char kStatusUnencrypted[] = "未加密";
inline constexpr char kStatusSecuritySeparator[] = "，";
inline constexpr char kSettingsNotSavedText[] =
    "已连接，但连接参数未能保存到config.dat，下次启动需要重新填写！";
inline constexpr char kStatusNotConnected[] = " 连接状态：未连接";
inline constexpr char kStatusConnected[] = " 连接状态：已连接";
inline constexpr char kStatusDisconnected[] = " 连接状态：已断开";
inline constexpr char kStatusUnresponsive[] = " 连接状态：无响应";
inline constexpr char kStatusConnecting[] = " 连接状态：正在连接…";
// Beside the statistics while they and the role list show the last picture before the server
// went away: "%1" is the time it was taken (HH:MM:SS).
inline constexpr char kStaleDataTime[] = "数据时间 %1（连接中断）";
// The server's own reason behind a message box: "错误号 1045：Access denied ...".
inline constexpr char kServerErrorNumber[] = "错误号 %1";
inline constexpr char kServerErrorSeparator[] = "：";

// Zones (zones.ini): the window's marks of the zone in use, the switch, and the dialog that
// manages them.
// The first line of every question and result of a mail or a cleanup: name, host:port and
// database of the zone the work goes to.
inline constexpr char kZoneLine[] = "区服：%1（%2 / %3）";
inline constexpr char kStatusConnectedZone[] = " 连接状态：已连接（%1）";
// Appended to the window's title.
inline constexpr char kZoneTitleSuffix[] = " - %1";
inline constexpr char kZoneComboTip[] =
    "选择要操作的区服；已连接时切换会断开当前区服并连接所选区服";
inline constexpr char kZoneSwitchSendingTip[] = "正在发送邮件，发送结束后才能切换区服";
inline constexpr char kZoneSwitchCleanupTip[] = "正在清理数据，清理结束后才能切换区服";
inline constexpr char kZonesNotSavedText[] =
    "已连接，但区服设置未能保存到zones.ini，下次启动需要重新填写！";
inline constexpr char kZonesWriteFailedText[] = "区服设置写入失败，zones.ini 未能保存！";
// What reading zones.ini skipped, told once at start-up: the title line, then one line each.
inline constexpr char kZonesSkippedText[] = "zones.ini 中有以下内容未能使用：";
inline constexpr char kZonesSkippedMore[] = "……另有 %1 处，详见详细信息。";
inline constexpr char kZonesDroppedNote[] = "无法识别的内容在下次保存区服设置时不再保留。";
inline constexpr char kZoneNoteBadLine[] = "第%1行：无法识别“%2”";
inline constexpr char kZoneNoteBadName[] = "第%1行：区服名称“%2”不符合要求，该区服已跳过";
inline constexpr char kZoneNoteDuplicateName[] =
    "第%1行：区服名称“%2”与前面的区服重复（不区分大小写），该区服已跳过";
inline constexpr char kZoneNoteUnknownKey[] =
    "第%1行：未知的设置“%2”，本版本不使用（保留在文件中）";
inline constexpr char kZoneNoteUnknownSection[] =
    "第%1行：未知的节“%2”，本版本不使用（保留在文件中）";
inline constexpr char kZoneNoteDuplicateKey[] = "第%1行：设置“%2”重复，以第一个为准";
inline constexpr char kZoneNoteBadValue[] = "第%1行：设置“%2”的值“%3”无效，已忽略";
inline constexpr char kZoneNoteIgnoredPassword[] =
    "第%1行：区服“%2”的密码不保存在文件中，psw 已忽略";
inline constexpr char kZoneNoteMissingZone[] = "第%1行：没有名为“%2”的区服";
inline constexpr char kZoneNoteNotUtf8[] = "文件不是 UTF-8 编码，已按 GBK 读取";
inline constexpr char kZoneNoteUnreadable[] =
    "文件无法读取，已使用 config.dat 中的连接参数，zones.ini 不会被改写";
inline constexpr char kZoneNoteNoZones[] = "文件中没有区服，已使用 config.dat 中的连接参数";
// The dialog "管理区服".
inline constexpr char kZonesTitle[] = "管理区服";
// The zone's way in: TLS, the SSH tunnel and where its password is kept.
inline constexpr char kZoneReachBox[] = "连接方式（所选区服）";
inline constexpr const char* kZoneTlsModes[] = {"不加密", "加密（首次连接时记住证书）",
                                                "加密并验证证书（CA）"};
inline constexpr const char* kZonePasswordPlaces[] = {"记住密码（系统钥匙串）", "保存在文件中（明文）",
                                                      "每次连接时询问"};
inline constexpr char kZoneCaFilter[] = "证书文件 (*.pem *.crt *.cer);;所有文件 (*)";
inline constexpr char kZoneKeyFilter[] = "所有文件 (*)";
inline constexpr char kZoneCaTitle[] = "选择CA证书文件";
inline constexpr char kZoneKeyTitle[] = "选择SSH密钥文件";
inline constexpr char kZoneSshKeyTip[] = "OpenSSH 私钥（ed25519/ECDSA/RSA）；不选则连接时询问SSH密码";
inline constexpr char kZoneSshHostTip[] = "不填则不使用SSH隧道";
inline constexpr char kZoneFingerprints[] = "记住的指纹：证书 %1；主机密钥 %2";
inline constexpr char kZoneNoFingerprint[] = "无";
inline constexpr char kZonePasswordFileQuestion[] =
    "密码将以明文保存在程序文件夹的 zones.ini 和 config.dat 中，任何能读取该文件夹的人都能看到。确定要这样保存吗？";
inline constexpr char kZonePasswordMoveQuestion[] =
    "将该区服的密码移到系统钥匙串中保存，并从 zones.ini 和 config.dat 中删除。之后在同一文件夹中启动的旧版本程序将需要重新输入密码。确定吗？";
inline constexpr char kZonePasswordMoveFailed[] =
    "密码未能保存到系统钥匙串，zones.ini 和 config.dat 未改动！";
inline constexpr char kZoneForgetQuestion[] =
    "清除该区服记住的证书和主机密钥指纹？下次连接时将重新显示指纹请您核对。";
inline constexpr char kZoneInUseMark[] = "（正在使用）";
inline constexpr char kZoneNamePrompt[] = "请输入区服名称（1到32个字符，不能含有 | [ ]）：";
inline constexpr char kZoneNameTitle[] = "区服名称";
inline constexpr char kZoneCopySuffix[] = " 副本";
inline constexpr char kZoneNameBadText[] =
    "区服名称须为1到32个字符，不能含有 | [ ] 或控制字符，首尾不能是空格，请返回修改！";
inline constexpr char kZoneNameDuplicateText[] = "已有相同名称的区服（不区分大小写），请返回修改！";
inline constexpr char kZoneColorPrompt[] = "请输入颜色（#rrggbb，例如 #c0392b）：";
inline constexpr char kZoneColorTitle[] = "区服颜色";
inline constexpr char kZoneColorBadText[] = "颜色格式错误，请填写 #rrggbb，例如 #c0392b！";
inline constexpr char kZoneDeleteQuestion[] = "是否要删除该区服？";
inline constexpr char kZoneDeleteName[] = "区服名称：%1";
inline constexpr char kZoneInUseText[] = "正在使用的区服不能删除，请先切换到其他区服！";

// Common page: the role list's filter and export.
inline constexpr char kRoleFilterPlaceholder[] = "筛选：名称、ID、帐号";
inline constexpr char kRoleFilterCount[] = "显示 %1 / %2";
inline constexpr char kExportTitle[] = "导出角色列表";
inline constexpr char kExportSuggestedName[] = "角色列表.csv";
inline constexpr char kExportFilter[] = "CSV 文件 (*.csv)";
inline constexpr char kExportMessageTitle[] = "导出消息";
inline constexpr char kExportFailedText[] = "导出失败！";
inline constexpr char kExportDoneText[] = "导出完成！";
// The second line of the message: how many rows went where.
inline constexpr char kExportDoneWhere[] = "共导出 %1 行，文件：%2";

// Both pages' account lookup ("查询", "查询帐号roleid"): the role id goes into the box; these
// say why it did not.
inline constexpr char kLookupTitle[] = "查询消息";
inline constexpr char kLookupNoRoleText[] = "该帐号没有角色";
// "%1" is why: one of the reasons below, or the server's own ("错误号 1146：...").
inline constexpr char kLookupFailedText[] = "查询角色ID失败：%1";
inline constexpr char kLookupNotConnectedReason[] = "未连接数据库，请先连接数据库！";
inline constexpr char kLookupLostReason[] = "与服务器的连接中断，请稍后重试！";

// Mail page: the attachment items.
inline constexpr char kMailItemIncompleteText[] = "请填写完整后再提交！";
inline constexpr char kMailItemsFullText[] = "本次邮件的物品栏已满！";
inline constexpr char kItemNamePrompt[] = "请输入此物品的名称！自定义！自己能看懂即可！";
inline constexpr char kItemNameTitle[] = "输入物品名称";
// The item search result's menu item that takes the item under the cursor.
inline constexpr char kPickItemAction[] = "加入附件";
// The attachment table's menu item that removes the selected row.
inline constexpr char kRemoveMailItemAction[] = "删除选中物品\tDelete";

// Mail page: sending.
inline constexpr char kMailTitle[] = "邮件消息";
inline constexpr char kMailSentText[] = "邮件发送成功！";
inline constexpr char kMailFailedText[] = "邮件发送失败！";
inline constexpr char kMailIncompleteText[] = "请填写完整后再发送！";
inline constexpr char kMailControlCharText[] = "邮件标题和内容不可含有回车或制表符，请返回修改！";
inline constexpr char kMailBadAttachmentsText[] = "邮件物品表的数据有误，请清空物品表后重新加入！";
inline constexpr char kMailDuplicateRoleText[] = "收件角色ID有重复，请返回修改！";
// Receivers that are no role: nothing is sent, to any of them.
inline constexpr char kMailUnknownRoleText[] = "以下角色ID不存在，邮件未发送给任何角色：%1";
// An insert whose answer was lost and could not be checked afterwards.
inline constexpr char kMailUnknownText[] =
    "与服务器的连接中断，无法确认邮件是否已发送！请先核对后再决定是否重发。";
// The look-up after a single mail's lost answer, while it waits for the server.
inline constexpr char kMailCheckProgressText[] =
    "与服务器的连接中断，正在确认邮件是否已发送……（取消则结果未知）";
inline constexpr char kManyUnknownText[] =
    "与服务器的连接中断：%1个角色已发送，%2个角色结果未知，%3个角色未发送！";
inline constexpr char kManyUnknownList[] = "结果未知：";
// Several receivers: the question before, the progress while and the outcome after.
inline constexpr char kManyConfirmTitle[] = "发送确认";
inline constexpr char kManyConfirmText[] = "确定要给以下%1个角色发送这封邮件吗？";
inline constexpr char kManyConfirmRole[] = "\r\n  %1（%2）";
inline constexpr char kManyConfirmMore[] = "\r\n  ……";
inline constexpr char kManyUnknownRole[] = "（无此角色）";
// The lines of every mail question, in this order: the server, the receivers (above), the
// money and the attachments.
inline constexpr char kMailQuestionCopper[] = "\r\n铜钱：%1";
inline constexpr char kMailQuestionYuanbao[] = "\r\n元宝：%1";
// After an amount at or above the operator's limit.
inline constexpr char kMailQuestionAtLimit[] = "（达到提醒上限 %1）";
inline constexpr char kMailQuestionItems[] = "\r\n附件：%1件";
inline constexpr char kMailQuestionNoItems[] = "\r\n附件：无";
inline constexpr char kMailQuestionItem[] = "\r\n  %1 × %2";
// Every role of the server: asked a second time.
inline constexpr char kEveryRoleConfirmText[] =
    "这封邮件将发给本服务器的全部 %1 个角色！\r\n请再次确认是否发送？";
inline constexpr char kNoFilteredRolesText[] = "没有符合条件的角色，邮件未发送。";
inline constexpr char kFilterFailedText[] = "无法按条件查询角色，邮件未发送！";
// Attachment ids the catalogue does not know, before the mail question.
inline constexpr char kUnknownItemsQuestion[] =
    "以下物品ID在物品库（goods.jat.json）中不存在：%1\r\n仍要发送这封邮件吗？";
// The Role ID box while the receivers come from the role list.
inline constexpr char kChosenRolesText[] = "筛选出的 %1 个角色";
inline constexpr char kFilteredRolesText[] = "按条件：%1";
inline constexpr char kClearReceiversAction[] = "清除收件角色";
inline constexpr char kManyProgressText[] = "正在发送邮件……";
inline constexpr char kManyCancelButton[] = "取消";
inline constexpr char kManySentText[] = "%1个角色的邮件全部发送成功！";
inline constexpr char kManyCancelledText[] = "发送已取消：%1个角色已发送，%2个角色未发送！";
inline constexpr char kManyFailedText[] = "邮件发送失败：%1个角色已发送，%2个角色未发送！";
inline constexpr char kManySentList[] = "已发送：";
inline constexpr char kManyNotSentList[] = "未发送：";
// Stands for the ids of a list left out of a message's text.
inline constexpr char kIdListMore[] = "……";
inline constexpr char kMailHelpTitle[] = "使用帮助";
// Nothing in it may advise deleting mail rows: role_email and system_email hold every
// player's mail.
inline constexpr char kMailHelpText[] =
    "帮助说明：\r\n"
    "1.发送邮件失败？\r\n"
    "  请点提示框中的“显示详情…”查看失败的原因，并在发件记录\r\n"
    "  （mrvn-audit.log）中核对该邮件是否已经发出，再决定是否重发。\r\n"
    "\r\n"
    "2.发送邮件后收不到？\r\n"
    "  请按角色ID查看该角色在“system_email”和“role_email”中的\r\n"
    "  邮件数据，确认邮件已经写入。请勿清空这两张表：其中是全体玩家的邮件。\r\n"
    "\r\n"
    "3.物品库查出来的ID不能使用？\r\n"
    "  可能是由于程序自带的goods.jat.json物品库与您游戏版本不符合，请\r\n"
    "  将您自己Server\\config\\game\\sys_config\\goods.jat 手动解开\r\n"
    "  并将解开的goods.jat.json 覆盖程序目录下原件即可。";

// Mail page: the settings of the amount limits.
inline constexpr char kMailSettingsButton[] = "设置";
inline constexpr char kMailSettingsTitle[] = "邮件设置";
inline constexpr char kMailLimitCopperLabel[] = "铜钱达到：";
inline constexpr char kMailLimitYuanbaoLabel[] = "元宝达到：";
inline constexpr char kMailLimitsNotSaved[] = "邮件设置未能保存，仍按原来的上限询问！";
inline constexpr char kMailLimitNote[] =
    "单个角色的邮件金额达到上限时，发送前先询问。0 表示每次都询问。";

// The role list's choice of receivers by condition.
inline constexpr char kRoleFilterTitle[] = "按条件选择角色";
inline constexpr char kRoleFilterOnline[] = "当前在线";
inline constexpr char kRoleFilterLevel[] = "等级从";
inline constexpr char kRoleFilterLevelTo[] = "到";
inline constexpr char kRoleFilterOffline[] = "最近";
inline constexpr char kRoleFilterOfflineDays[] = "天内在线过";
inline constexpr char kRoleFilterAll[] = "全部角色";
inline constexpr char kRoleFilterCountText[] = "符合条件：%1 个角色";
inline constexpr char kRoleFilterCounting[] = "符合条件：统计中……";
inline constexpr char kRoleFilterCountFailed[] = "符合条件：无法统计";
// How the conditions read in the Role ID box, joined by "、".
inline constexpr char kFilterDescOnline[] = "在线";
inline constexpr char kFilterDescLevel[] = "等级 %1–%2";
inline constexpr char kFilterDescOffline[] = "%1 天内在线过";
inline constexpr char kFilterDescAll[] = "全部角色";

// The same mail in several zones ("发送到多个区服…"): the dialog, the one question, the result.
inline constexpr char kZonesMailButton[] = "发送到多个区服…";
inline constexpr char kZonesMailTitle[] = "发送到多个区服";
inline constexpr char kZonesMailZonesLabel[] = "发送到以下区服：";
inline constexpr char kZonesMailFilterLabel[] = "每个区服的收件角色：";
// After a zone's name in the dialog, when this mail was sent there earlier in this run.
inline constexpr char kZonesMailDoneMark[] = "（本邮件已发送）";
inline constexpr char kZonesMailPartMark[] = "（本邮件已部分发送，请在发件记录中重发）";
inline constexpr char kZonesMailNoZone[] = "请至少勾选一个区服！";
inline constexpr char kZonesMailQuestion[] = "确定要把这封邮件发送到以下%1个区服吗？（共%2个角色）";
inline constexpr char kZonesMailZoneCount[] = "\r\n  %1：%2个角色";
// The first receivers of a zone, under its count.
inline constexpr char kZonesMailFirstRoles[] = "\r\n    %1";
inline constexpr char kZonesMailRole[] = "%1（%2）";
inline constexpr char kZonesMailSkippedHead[] = "\r\n以下区服将被跳过：";
inline constexpr char kZonesMailSkippedLine[] = "\r\n  %1：%2";
inline constexpr char kZonesMailNothingToSend[] = "没有可以发送的区服，邮件未发送。";
inline constexpr char kZonesMailEveryRole[] =
    "这封邮件将发给所选区服的全部 %1 个角色！\r\n请再次确认是否发送？";
inline constexpr char kZonesMailResultHead[] = "发送到多个区服的结果：";
inline constexpr char kZonesMailResultSent[] = "\r\n  %1：已发送 %2";
inline constexpr char kZonesMailResultPart[] = "\r\n  %1：已发送 %2，未发送 %3，结果未知 %4";
inline constexpr char kZonesMailResultSkipped[] = "\r\n  %1：已跳过（%2）";
inline constexpr char kZonesMailRerunNote[] =
    "\r\n未发送的区服可再次点击“发送到多个区服…”补发：已发送过本邮件的区服不会再次发送。";
// Why a zone is skipped.
inline constexpr char kZonesMailNoPassword[] = "未输入密码";
inline constexpr char kZonesMailInUseClosed[] = "当前区服的连接已断开，请重新连接后再发送";
inline constexpr char kZonesMailNeedsOperator[] =
    "首次连接需核对指纹或输入密钥口令，请先在主窗口连接该区服一次";
// The password of a zone that zones.ini does not keep, asked for a mail to several zones; the
// first line says why the keychain did not give it.
inline constexpr char kZonesMailPasswordPrompt[] =
    "%1发送到区服“%2”需要数据库密码（只用于本次发送，不保存）。\n%3 的数据库密码：";
inline constexpr char kZonesMailKeychainNotFound[] = "系统钥匙串中没有该区服的密码。\n";
inline constexpr char kZonesMailKeychainUnavailable[] = "系统钥匙串不可用（%1）。\n";
inline constexpr char kZonesMailUnreachable[] = "无法连接：%1";
inline constexpr char kZonesMailCountFailed[] = "无法按条件查询角色：%1";
inline constexpr char kZonesMailNoRoles[] = "没有符合条件的角色";
inline constexpr char kZonesMailCancelled[] = "已取消，未发送";
// A sent-mail entry of another zone is resent only from that zone.
inline constexpr char kSentMailOtherZone[] =
    "这条记录属于区服“%1”，当前区服是“%2”。\r\n请先切换到该区服再重发。";
// The sent-mail view.
inline constexpr char kSentMailButton[] = "发件记录";
inline constexpr char kSentMailTitle[] = "发件记录";
inline constexpr char kSentMailReading[] = "正在读取操作记录……";
inline constexpr char kSentMailCount[] = "共 %1 条，显示 %2 条";
inline constexpr char kSentMailSent[] = "已发送";
inline constexpr char kSentMailNotSent[] = "未发送";
inline constexpr char kSentMailUnknown[] = "结果未知";
// An entry of several receivers: how many of them got the mail.
inline constexpr char kSentMailPartly[] = "%1/%2 已发送";
inline constexpr char kSentMailResend[] = "重发未成功的";
inline constexpr char kSentMailRoles[] = "%1 个角色";
inline constexpr char kSentMailResendMark[] = "（重发）";
inline constexpr char kSentMailSearch[] = "查找";
inline constexpr char kSentMailRoleId[] = "角色ID：";
inline constexpr char kSentMailTitleField[] = "标题：";
inline constexpr char kSentMailItemId[] = "物品ID：";
inline constexpr char kSentMailZone[] = "区服：";
inline constexpr char kSentMailFrom[] = "从";
inline constexpr char kSentMailTo[] = "到";
inline constexpr char kSentMailNothingToResend[] = "这封邮件已全部发送，无需重发。";
inline constexpr char kSentMailFoundSent[] = "核对结果：%1 个结果未知的角色已收到邮件，不再重发。";

// Mail page: the archives.
inline constexpr char kArchiveNamePrompt[] = "请输入存档的名称！自定义！自己能看懂即可！";
inline constexpr char kArchiveNameTitle[] = "输入存档名称";
inline constexpr char kArchiveDuplicateText[] = "已有相同存档名称，请返回修改！";
inline constexpr char kArchiveWriteFailedText[] = "存档写入失败，config.dat 未能保存！";
inline constexpr char kArchiveListFullText[] = "存档数量已达上限，请先删除不用的存档！";
inline constexpr char kArchiveReservedText[] = "该名称为保留名称，不能用作存档名称，请返回修改！";
inline constexpr char kArchiveNotGbkText[] =
    "存档名称含有 GBK 编码无法保存的字符，config.dat 无法保存，请返回修改！";
inline constexpr char kDeleteArchiveQuestion[] = "是否要删除该存档？";
// The informative line under the question: the archive it is about.
inline constexpr char kDeleteArchiveName[] = "存档名称：%1";

// Mail page: the item catalogue search.
inline constexpr char kCatalogueMissingText[] =
    "goods.jat.json 物品库不存在，请手动转换goods.jat文件后，放入本程序目录下即可！";
inline constexpr char kCatalogueErrorTitle[] = "物品库错误";
inline constexpr char kSearchStatusWaiting[] = "查询状态：等待";
inline constexpr char kSearchStatusRunning[] = "查询状态：检索中";
inline constexpr char kSearchStatusDone[] = "查询状态：完成";
// Beside the status once a search has ended: the number of records found.
inline constexpr char kSearchFoundCount[] = "找到 %1 条";
// The last line of a result cut short: lines shown, records found.
inline constexpr char kSearchResultCut[] = "……只显示前 %1 条，其余 %2 条未显示，请缩小查询范围。";

// Cleanup page.
inline constexpr char kCleanupDayCountText[] = "删除之前天数输入错误，请填写0或正整数！";
inline constexpr char kCleanupNotConnectedText[] = "请先连接数据库！";
inline constexpr char kCleanupDoneText[] = "清理完成！共删除 %1 行。";
// Closing the main window while a cleanup runs; No is the default.
inline constexpr char kCleanupCloseQuestion[] = "正在清理，是否取消并退出？";
// The question before a delete (see CleanupQuestion).
inline constexpr char kCleanupQuestionHead[] = "以下数据表的数据将被删除，且无法恢复！";
inline constexpr char kCleanupQuestionRows[] = "%1：%2 行";
inline constexpr char kCleanupQuestionUnlisted[] = "另有 %1 张表共 %2 行（详见详细信息）。";
inline constexpr char kCleanupQuestionNothing[] = "没有可删除的数据。";
inline constexpr char kCleanupQuestionEmpty[] = "另有 %1 张表没有可删除的数据。";
inline constexpr char kCleanupQuestionNameSeparator[] = "、";
inline constexpr char kCleanupQuestionMoreFailing[] = " 等 %1 张表";
// A table left alone and why ("%2"), the same reason as in its result cell; in the question's
// text the tables left alone for the same reason share one line, the reason first.
inline constexpr char kCleanupQuestionSkipped[] = "%1：%2";
inline constexpr char kCleanupQuestionSkippedGroup[] = "%1：%2";
inline constexpr char kCleanupQuestionTotal[] = "共计删除 %1 行，是否继续？";
// While and after the chunked deletes.
inline constexpr char kCleanupProgressText[] = "正在清理数据……已删除 %1 / %2 行";
inline constexpr char kCleanupCancelledText[] = "清理已取消：共删除 %1 行，其余数据保留！";
inline constexpr char kCleanupUnknownText[] =
    "清理结束，但与服务器的连接中断，部分数据表的结果未知，详见结果列和操作记录！";
// Why a table is left alone, in the question and in its result cell.
inline constexpr char kCleanupNoTimeColumnResult[] = "无 log_update_time 列，跳过";
inline constexpr char kCleanupNotCountedResult[] = "无法统计（错误号 %1），未删除";
// The result column beside the count ("影响行数：N").
inline constexpr char kCleanupNotRunResult[] = "已取消，未删除";
inline constexpr char kCleanupFailedSuffix[] = "（失败）";
inline constexpr char kCleanupCancelledSuffix[] = "（已取消）";
inline constexpr char kCleanupUnknownSuffix[] = "（结果未知）";
inline constexpr char kCleanupUnknownRemainingSuffix[] = "（结果未知，剩余 %1 行）";

// The result column of the table list: "影响行数：" followed by the count (-1 when the
// statement failed).
inline std::string CleanupResultText(std::int64_t affected)
{
    return "影响行数：" + std::to_string(affected);
}

// About page and the audit log.
inline constexpr char kAuditFailedText[] = "操作记录写入失败，mrvn-audit.log 未能保存！";
inline constexpr char kAuditFailedTitle[] = "操作记录";
inline constexpr char kAuditFolderLabel[] = "操作记录文件夹：";
inline constexpr char kAuditRotationNote[] =
    "mrvn-audit.log 每满 16 MiB 依次改名为 mrvn-audit.log.1 至 .9";

// The version check at start-up.
inline constexpr char kUpdateTitle[] = "自动更新";
inline constexpr char kAddressRefusedText[] = "更新地址无法打开，请手动下载新版本！";
inline constexpr char kUnreadableQuestion[] =
    "程序无法获取版本信息，您的程序将无法得到更新。\r\n是否跳过更新检测？直接启动程序？";

// The most characters of the page's version text the question shows; "…" marks a cut.
inline constexpr std::size_t kMaxShownVersionChars = 64;

inline std::string NewVersionQuestion(std::string_view newest)
{
    // Counted in characters (UTF-8 lead bytes), so the cut never splits one.
    std::size_t characters = 0;
    std::size_t end = 0;
    for (; end < newest.size(); ++end) {
        if ((static_cast<unsigned char>(newest[end]) & 0xC0) != 0x80 &&
            ++characters > kMaxShownVersionChars)
            break;
    }
    std::string text = "发现新版本！\r\n软件当前版本：";
    text += MRVN_VERSION_TEXT;
    text += "　最新版本：";
    text += newest.substr(0, end);
    if (end < newest.size())
        text += "…";
    text += "　是否要更新？";
    return text;
}

} // namespace mrvn
