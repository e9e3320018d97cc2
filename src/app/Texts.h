#pragma once

#include "Version.h"

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
inline constexpr char kConnectFailedText[] = "mysql连接错误！请检查连接参数！";
inline constexpr char kSettingsNotSavedText[] =
    "已连接，但连接参数未能保存到config.dat，下次启动需要重新填写！";
inline constexpr char kStatusNotConnected[] = " 连接状态：未连接";
inline constexpr char kStatusConnected[] = " 连接状态：已连接";
inline constexpr char kStatusDisconnected[] = " 连接状态：已断开";
inline constexpr char kStatusUnresponsive[] = " 连接状态：无响应";
// The server's own reason behind a message box: "错误号 1045：Access denied ...".
inline constexpr char kServerErrorNumber[] = "错误号 %1";
inline constexpr char kServerErrorSeparator[] = "：";

// Common page: the role list's filter and export.
inline constexpr char kRoleFilterPlaceholder[] = "名称、roleid 或帐号，Esc 关闭";
inline constexpr char kRoleFilterCount[] = "显示 %1 / %2";
inline constexpr char kExportTitle[] = "导出角色列表";
inline constexpr char kExportSuggestedName[] = "角色列表.csv";
inline constexpr char kExportFilter[] = "CSV 文件 (*.csv)";
inline constexpr char kExportMessageTitle[] = "导出消息";
inline constexpr char kExportFailedText[] = "导出失败！";
inline constexpr char kExportDoneText[] = "导出完成！";
// The second line of the message: how many rows went where.
inline constexpr char kExportDoneWhere[] = "共导出 %1 行，文件：%2";

// Mail page: the attachment items.
inline constexpr char kMailItemIncompleteText[] = "请填写完整后再提交！";
inline constexpr char kMailItemsFullText[] = "本次邮件的物品栏已满！";
inline constexpr char kItemNamePrompt[] = "请输入此物品的名称！自定义！自己能看懂即可！";
inline constexpr char kItemNameTitle[] = "输入物品名称";
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
// Receivers that are no role: nothing is sent.
inline constexpr char kMailUnknownRoleText[] = "以下角色ID不存在，邮件未发送：%1";
// An insert whose answer was lost and could not be checked afterwards.
inline constexpr char kMailUnknownText[] =
    "与服务器的连接中断，无法确认邮件是否已发送！请先核对后再决定是否重发。";
inline constexpr char kManyUnknownText[] =
    "与服务器的连接中断：%1个角色已发送，%2个角色结果未知，%3个角色未发送！";
inline constexpr char kManyUnknownList[] = "结果未知：";
// Several receivers: the question before, the progress while and the outcome after.
inline constexpr char kManyConfirmTitle[] = "发送确认";
inline constexpr char kManyConfirmText[] = "确定要给以下%1个角色发送这封邮件吗？";
inline constexpr char kManyConfirmRole[] = "\r\n  %1（%2）";
inline constexpr char kManyConfirmMore[] = "\r\n  ……";
inline constexpr char kManyUnknownRole[] = "（无此角色）";
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
inline constexpr char kMailHelpText[] =
    "帮助说明：\r\n"
    "1.发送邮件失败？\r\n"
    "  请清空“role_email”和“system_email”的全部数据即可。\r\n"
    "\r\n"
    "2.发送邮件后收不到？\r\n"
    "  我们已经尽力通过封闭的代码环境解决此问题，如果还有，\r\n"
    "  请清空指定角色的“role_email”和“system_email”的全部数据即可。\r\n"
    "\r\n"
    "3.物品库查出来的ID不能使用？\r\n"
    "  可能是由于程序自带的goods.jat.json物品库与您游戏版本不符合，请\r\n"
    "  将您自己Server\\config\\game\\sys_config\\goods.jat 手动解开\r\n"
    "  并将解开的goods.jat.json 覆盖程序目录下原件即可。";

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
inline constexpr char kCleanupDoneText[] = "清理完成！";
// The question before a delete (see CleanupQuestion).
inline constexpr char kCleanupQuestionHead[] = "以下数据表的数据将被删除，且无法恢复！";
inline constexpr char kCleanupQuestionRows[] = "%1：%2 行";
inline constexpr char kCleanupQuestionFails[] = "%1：语句无法执行";
inline constexpr char kCleanupQuestionUnlisted[] = "另有 %1 张表共 %2 行（详见详细信息）。";
inline constexpr char kCleanupQuestionNothing[] = "没有可删除的数据。";
inline constexpr char kCleanupQuestionEmpty[] = "另有 %1 张表没有可删除的数据。";
inline constexpr char kCleanupQuestionNameSeparator[] = "、";
inline constexpr char kCleanupQuestionMoreFailing[] = " 等 %1 张表";
inline constexpr char kCleanupQuestionFailing[] = "语句无法执行，不会删除：%1。";
inline constexpr char kCleanupQuestionTotal[] = "共计删除 %1 行，是否继续？";
// While and after the chunked deletes.
inline constexpr char kCleanupProgressText[] = "正在清理数据……已删除 %1 / %2 行";
inline constexpr char kCleanupCancelledText[] = "清理已取消：共删除 %1 行，其余数据保留！";
inline constexpr char kCleanupUnknownText[] =
    "清理结束，但与服务器的连接中断，部分数据表的结果未知，详见结果列和操作记录！";
// The result column beside the count ("影响行数：N").
inline constexpr char kCleanupNotCountedResult[] = "无法统计，未删除";
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
