#include "app/ZonesDialog.h"

#include "app/Dialogs.h"
#include "app/Texts.h"
#include "app/ZoneMarks.h"

#include "config/ConfigFile.h"
#include "secrets/Keychain.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace mrvn {

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string Std(const QString& text)
{
    return text.toStdString();
}

QIcon Swatch(const std::string& color)
{
    QPixmap swatch(12, 12);
    swatch.fill(QColor(Q(color)));
    return QIcon(swatch);
}

// The names of ZonePalette()'s colours, in its order.
const char* const kPaletteNames[] = {"蓝", "红", "绿", "紫", "橙", "青", "金", "灰"};

} // namespace

ZonesDialog::ZonesDialog(ZonesFile& file, Dialogs& dialogs, const QString& inUse,
                         std::shared_ptr<Keychain> keychain, std::filesystem::path configPath,
                         QWidget* parent)
    : QDialog(parent), m_file(file), m_dialogs(dialogs), m_inUse(inUse),
      m_keychain(std::move(keychain)), m_configPath(std::move(configPath))
{
    setObjectName(QStringLiteral("区服管理"));
    setWindowTitle(Text(kZonesTitle));
    m_zones = new QListWidget(this);
    m_zones->setObjectName(QStringLiteral("区服列表"));
    const auto button = [this](const char* name, const char* caption) {
        auto* made = new QPushButton(QString::fromUtf8(caption), this);
        made->setObjectName(QString::fromUtf8(name));
        made->setAutoDefault(false);
        return made;
    };
    auto* add = button("按钮新增区服", "新增…");
    m_duplicate = button("按钮复制区服", "复制…");
    m_rename = button("按钮重命名区服", "重命名…");
    m_up = button("按钮上移区服", "上移");
    m_down = button("按钮下移区服", "下移");
    m_delete = button("按钮删除区服", "删除");
    auto* close = button("按钮关闭区服管理", "关闭");
    m_color = new QComboBox(this);
    m_color->setObjectName(QStringLiteral("区服颜色框"));
    for (std::size_t i = 0; i < ZonePalette().size(); ++i)
        m_color->addItem(Swatch(ZonePalette()[i]), QString::fromUtf8(kPaletteNames[i]));
    m_color->addItem(QStringLiteral("自定义…"));

    auto* buttons = new QVBoxLayout;
    for (QPushButton* each : {add, m_duplicate, m_rename, m_up, m_down, m_delete})
        buttons->addWidget(each);
    buttons->addWidget(new QLabel(QStringLiteral("颜色："), this));
    buttons->addWidget(m_color);
    buttons->addStretch(1);
    buttons->addWidget(close);
    auto* top = new QHBoxLayout;
    top->addWidget(m_zones, 1);
    top->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(MakeReachBox());
    resize(480, 520);

    connect(add, &QPushButton::clicked, this, &ZonesDialog::AddZone);
    connect(m_duplicate, &QPushButton::clicked, this, &ZonesDialog::DuplicateZone);
    connect(m_rename, &QPushButton::clicked, this, &ZonesDialog::RenameZone);
    connect(m_up, &QPushButton::clicked, this, [this] { MoveZone(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { MoveZone(1); });
    connect(m_delete, &QPushButton::clicked, this, &ZonesDialog::DeleteZone);
    connect(m_color, &QComboBox::activated, this, &ZonesDialog::ChooseColor);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_zones, &QListWidget::currentRowChanged, this, &ZonesDialog::ShowSelected);
    Reload(inUse);
}

QString ZonesDialog::Selected() const
{
    const QListWidgetItem* item = m_zones->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

void ZonesDialog::Reload(const QString& select)
{
    m_list = m_file.Load().list;
    const QSignalBlocker quiet(m_zones);
    m_zones->clear();
    for (const Zone& zone : m_list.zones) {
        QString text = Q(zone.name) + QStringLiteral("　") + Q(ZoneServer(zone)) +
                       QStringLiteral(" / ") + Q(zone.db);
        if (SameZoneName(zone.name, Std(m_inUse)))
            text += Text(kZoneInUseMark);
        auto* item = new QListWidgetItem(Swatch(zone.color), text, m_zones);
        item->setData(Qt::UserRole, Q(zone.name));
        if (SameZoneName(zone.name, Std(select)))
            m_zones->setCurrentItem(item);
    }
    ShowSelected();
}

void ZonesDialog::ShowSelected()
{
    const Zone* zone = FindZone(m_list, Std(Selected()));
    for (QWidget* control : std::initializer_list<QWidget*>{m_duplicate, m_rename, m_up, m_down,
                                                            m_delete, m_color, m_reach})
        control->setEnabled(zone != nullptr);
    if (!zone)
        return;
    m_tls->setCurrentIndex(static_cast<int>(zone->tls));
    m_caFile->setText(Q(zone->tlsCaFile));
    m_caFile->setEnabled(zone->tls == TlsMode::Verify);
    m_pickCa->setEnabled(zone->tls == TlsMode::Verify);
    m_sshHost->setText(Q(zone->sshHost));
    m_sshPort->setText(QString::number(zone->sshPort));
    m_sshUser->setText(Q(zone->sshUser));
    m_sshKey->setText(Q(zone->sshKey));
    m_passwordPlace->setCurrentIndex(static_cast<int>(zone->password));
    const auto pinned = [](const std::string& fingerprint) {
        return fingerprint.empty() ? Text(kZoneNoFingerprint) : Q(fingerprint);
    };
    m_fingerprints->setText(
        Text(kZoneFingerprints).arg(pinned(zone->tlsFingerprint), pinned(zone->sshFingerprint)));
    const auto& palette = ZonePalette();
    const auto at = std::find(palette.begin(), palette.end(), zone->color);
    const int custom = static_cast<int>(palette.size());
    m_color->setItemIcon(custom, at == palette.end() ? Swatch(zone->color) : QIcon());
    m_color->setCurrentIndex(at == palette.end() ? custom : static_cast<int>(at - palette.begin()));
}

void ZonesDialog::Warn(const char* text)
{
    m_dialogs.Message(this, Text(text), Text(kCheckTitle), MessageIcon::Warning,
                      MessageButtons::Ok);
}

std::optional<QString> ZonesDialog::AskName(const QString& initial)
{
    return m_dialogs.Input(this, Text(kZoneNamePrompt), Text(kZoneNameTitle), initial);
}

bool ZonesDialog::Apply(const std::function<ZoneEdit(ZoneList&)>& change)
{
    ZoneEdit edit = ZoneEdit::Done;
    const ZonesFile::Written written = m_file.Update([&](ZoneList& list) {
        edit = change(list);
        return edit == ZoneEdit::Done;
    });
    switch (edit) {
    case ZoneEdit::BadName:
        Warn(kZoneNameBadText);
        return false;
    case ZoneEdit::Duplicate:
        Warn(kZoneNameDuplicateText);
        return false;
    case ZoneEdit::BadColor:
        Warn(kZoneColorBadText);
        return false;
    case ZoneEdit::NotFound:
    case ZoneEdit::LastZone:
        // Another copy of the tool changed the list meanwhile: it is shown as it is now.
        Reload(Selected());
        return false;
    case ZoneEdit::Done:
        break;
    }
    if (written == ZonesFile::Written::Failed) {
        Warn(kZonesWriteFailedText);
        return false;
    }
    return true;
}

void ZonesDialog::AddZone()
{
    const std::optional<QString> name = AskName(QString());
    if (!name)
        return;
    Zone zone;
    zone.name = Std(*name);
    if (Apply([&](ZoneList& list) { return mrvn::AddZone(list, zone); }))
        Reload(*name);
}

void ZonesDialog::DuplicateZone()
{
    const Zone* from = FindZone(m_list, Std(Selected()));
    if (!from)
        return;
    Zone zone = *from;
    const std::optional<QString> name = AskName(Q(zone.name) + Text(kZoneCopySuffix));
    if (!name)
        return;
    zone.name = Std(*name);
    // A copy is another server: it gets a colour of its own.
    zone.color.clear();
    if (Apply([&](ZoneList& list) { return mrvn::AddZone(list, zone); }))
        Reload(*name);
}

void ZonesDialog::RenameZone()
{
    const QString old = Selected();
    if (old.isEmpty())
        return;
    const std::optional<QString> name = AskName(old);
    if (!name || *name == old)
        return;
    if (!Apply([&](ZoneList& list) { return mrvn::RenameZone(list, Std(old), Std(*name)); }))
        return;
    if (SameZoneName(Std(old), Std(m_inUse)))
        m_inUse = *name;
    Reload(*name);
}

void ZonesDialog::DeleteZone()
{
    const QString name = Selected();
    if (name.isEmpty())
        return;
    if (SameZoneName(Std(name), Std(m_inUse))) {
        Warn(kZoneInUseText);
        return;
    }
    const MessageRequest question{Text(kZoneDeleteQuestion),
                                  Text(kDeleteConfirmTitle),
                                  MessageIcon::Question,
                                  MessageButtons::YesNoDefaultNo,
                                  QString(),
                                  Text(kZoneDeleteName).arg(name),
                                  QString()};
    if (m_dialogs.Show(this, question) != MessageAnswer::Yes)
        return;
    if (Apply([&](ZoneList& list) { return mrvn::DeleteZone(list, Std(name)); }))
        Reload(m_inUse);
}

void ZonesDialog::MoveZone(int delta)
{
    const QString name = Selected();
    if (!name.isEmpty() &&
        Apply([&](ZoneList& list) { return mrvn::MoveZone(list, Std(name), delta); }))
        Reload(name);
}

void ZonesDialog::ChooseColor(int index)
{
    const QString name = Selected();
    const Zone* zone = FindZone(m_list, Std(name));
    if (!zone || index < 0)
        return;
    std::string color;
    if (static_cast<std::size_t>(index) < ZonePalette().size()) {
        color = ZonePalette()[static_cast<std::size_t>(index)];
    } else {
        const std::optional<QString> typed =
            m_dialogs.Input(this, Text(kZoneColorPrompt), Text(kZoneColorTitle), Q(zone->color));
        if (!typed) {
            ShowSelected();
            return;
        }
        color = Std(typed->trimmed());
    }
    Apply([&](ZoneList& list) { return SetZoneColor(list, Std(name), color); });
    Reload(name);
}

QWidget* ZonesDialog::MakeReachBox()
{
    auto* box = new QGroupBox(Text(kZoneReachBox), this);
    box->setObjectName(QStringLiteral("区服连接方式"));
    m_reach = box;
    const auto edit = [box](const char* name) {
        auto* made = new QLineEdit(box);
        made->setObjectName(QString::fromUtf8(name));
        return made;
    };
    const auto pick = [box](const char* name) {
        auto* made = new QPushButton(QStringLiteral("选择…"), box);
        made->setObjectName(QString::fromUtf8(name));
        made->setAutoDefault(false);
        return made;
    };
    m_tls = new QComboBox(box);
    m_tls->setObjectName(QStringLiteral("区服TLS框"));
    for (const char* mode : kZoneTlsModes)
        m_tls->addItem(Text(mode));
    m_caFile = edit("区服CA文件框");
    m_pickCa = pick("按钮选择CA文件");
    m_sshHost = edit("区服SSH主机框");
    m_sshHost->setToolTip(Text(kZoneSshHostTip));
    m_sshPort = edit("区服SSH端口框");
    m_sshPort->setValidator(new QIntValidator(1, 65535, m_sshPort));
    m_sshPort->setMaximumWidth(64);
    m_sshUser = edit("区服SSH用户框");
    m_sshKey = edit("区服SSH密钥框");
    m_sshKey->setToolTip(Text(kZoneSshKeyTip));
    auto* pickKey = pick("按钮选择SSH密钥");
    m_passwordPlace = new QComboBox(box);
    m_passwordPlace->setObjectName(QStringLiteral("区服密码方式框"));
    for (const char* place : kZonePasswordPlaces)
        m_passwordPlace->addItem(Text(place));
    m_fingerprints = new QLabel(box);
    m_fingerprints->setObjectName(QStringLiteral("区服指纹"));
    m_fingerprints->setWordWrap(true);
    m_fingerprints->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* forget = new QPushButton(QStringLiteral("清除指纹"), box);
    forget->setObjectName(QStringLiteral("按钮清除指纹"));
    forget->setAutoDefault(false);

    // Captions in the first column, right-aligned and centred on their box's line.
    auto* grid = new QGridLayout(box);
    int row = 0;
    const auto caption = [&](const char* text) {
        auto* label = new QLabel(Text(text), box);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(label, row, 0);
    };
    caption("TLS：");
    grid->addWidget(m_tls, row++, 1, 1, 3);
    caption("CA文件：");
    grid->addWidget(m_caFile, row, 1, 1, 2);
    grid->addWidget(m_pickCa, row++, 3);
    caption("SSH主机：");
    grid->addWidget(m_sshHost, row, 1);
    auto* portCaption = new QLabel(QStringLiteral("端口："), box);
    portCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    grid->addWidget(portCaption, row, 2);
    grid->addWidget(m_sshPort, row++, 3);
    caption("SSH用户：");
    grid->addWidget(m_sshUser, row++, 1, 1, 3);
    caption("密钥文件：");
    grid->addWidget(m_sshKey, row, 1, 1, 2);
    grid->addWidget(pickKey, row++, 3);
    caption("数据库密码：");
    grid->addWidget(m_passwordPlace, row++, 1, 1, 3);
    grid->addWidget(m_fingerprints, row, 0, 1, 3);
    grid->addWidget(forget, row++, 3, Qt::AlignTop);
    grid->setColumnStretch(1, 1);

    connect(m_tls, &QComboBox::activated, this, &ZonesDialog::ChooseTls);
    connect(m_passwordPlace, &QComboBox::activated, this, &ZonesDialog::ChoosePasswordPlace);
    connect(m_pickCa, &QPushButton::clicked, this, &ZonesDialog::PickCaFile);
    connect(pickKey, &QPushButton::clicked, this, &ZonesDialog::PickKeyFile);
    connect(forget, &QPushButton::clicked, this, &ZonesDialog::ForgetFingerprints);
    connect(m_caFile, &QLineEdit::editingFinished, this, [this] {
        EditSelected([file = Std(m_caFile->text().trimmed())](Zone& zone) { zone.tlsCaFile = file; });
    });
    for (QLineEdit* ssh : {m_sshHost, m_sshPort, m_sshUser, m_sshKey})
        connect(ssh, &QLineEdit::editingFinished, this, &ZonesDialog::TakeSshBoxes);
    return box;
}

void ZonesDialog::EditSelected(const std::function<void(Zone&)>& change)
{
    const QString name = Selected();
    const Zone* shown = FindZone(m_list, Std(name));
    if (!shown)
        return;
    Zone changed = *shown;
    change(changed);
    if (changed == *shown)
        return;
    Apply([&](ZoneList& list) {
        Zone* zone = FindZone(list, Std(name));
        if (!zone)
            return ZoneEdit::NotFound;
        change(*zone);
        return ZoneEdit::Done;
    });
    Reload(name);
}

void ZonesDialog::TakeSshBoxes()
{
    const std::string host = Std(m_sshHost->text().trimmed());
    const std::string user = Std(m_sshUser->text().trimmed());
    const std::string key = Std(m_sshKey->text().trimmed());
    const unsigned port = m_sshPort->hasAcceptableInput() ? m_sshPort->text().toUInt() : 0;
    EditSelected([&](Zone& zone) {
        // Another SSH server is another host key: the one kept is not its.
        if (zone.sshHost != host || (port && zone.sshPort != port))
            zone.sshFingerprint.clear();
        zone.sshHost = host;
        if (port)
            zone.sshPort = port;
        zone.sshUser = user;
        zone.sshKey = key;
    });
}

void ZonesDialog::ChooseTls(int mode)
{
    EditSelected([mode](Zone& zone) { zone.tls = static_cast<TlsMode>(mode); });
}

void ZonesDialog::PickCaFile()
{
    if (const std::optional<QString> file =
            m_dialogs.OpenFileName(this, Text(kZoneCaTitle), Text(kZoneCaFilter)))
        EditSelected([&](Zone& zone) { zone.tlsCaFile = Std(*file); });
}

void ZonesDialog::PickKeyFile()
{
    if (const std::optional<QString> file =
            m_dialogs.OpenFileName(this, Text(kZoneKeyTitle), Text(kZoneKeyFilter)))
        EditSelected([&](Zone& zone) { zone.sshKey = Std(*file); });
}

void ZonesDialog::ForgetFingerprints()
{
    const MessageRequest question{Text(kZoneForgetQuestion), Text(kZonesTitle),
                                  MessageIcon::Question, MessageButtons::YesNoDefaultNo};
    if (m_dialogs.Show(this, question) != MessageAnswer::Yes)
        return;
    EditSelected([](Zone& zone) {
        zone.tlsFingerprint.clear();
        zone.sshFingerprint.clear();
    });
}

void ZonesDialog::ChoosePasswordPlace(int index)
{
    const Zone* shown = FindZone(m_list, Std(Selected()));
    if (!shown || index < 0)
        return;
    const auto place = static_cast<PasswordPlace>(index);
    if (place == shown->password)
        return;
    if (place == PasswordPlace::File) {
        const MessageRequest question{Text(kZonePasswordFileQuestion), Text(kZonesTitle),
                                      MessageIcon::Warning, MessageButtons::YesNoDefaultNo};
        if (m_dialogs.Show(this, question) != MessageAnswer::Yes) {
            ShowSelected();
            return;
        }
    }
    if (place == PasswordPlace::Keychain && shown->password == PasswordPlace::File &&
        !shown->psw.empty()) {
        MovePasswordToKeychain(*shown);
        return;
    }
    // Kept in the files only for `file`: any other place drops the plain one.
    EditSelected([place](Zone& zone) { zone.password = place; });
}

void ZonesDialog::MovePasswordToKeychain(const Zone& zone)
{
    const MessageRequest question{Text(kZonePasswordMoveQuestion), Text(kZonesTitle),
                                  MessageIcon::Question, MessageButtons::YesNoDefaultNo};
    if (m_dialogs.Show(this, question) != MessageAnswer::Yes) {
        ShowSelected();
        return;
    }
    // Out of the files only once the keychain holds it.
    QPointer<ZonesDialog> self(this);
    m_keychain->Write(ZoneSecretName(zone), zone.psw, [self, zone](KeychainResult written) {
        if (!self)
            return;
        if (written.status != KeychainStatus::Done) {
            self->m_dialogs.Message(self, Text(kZonePasswordMoveFailed), Text(kMessageTitle),
                                    MessageIcon::Warning, MessageButtons::Ok,
                                    Q(written.reason));
            self->ShowSelected();
            return;
        }
        self->EditSelected([](Zone& edited) { edited.password = PasswordPlace::Keychain; });
        // config.dat's five keys hold the zone last connected; its password goes when it is
        // this zone's.
        ConfigFile config(self->m_configPath);
        config.Update([&zone](ConfigEdit& edit) {
            const ConnectionSettings defaults;
            if (edit.ReadValue("system", "psw", defaults.psw) != zone.psw ||
                edit.ReadValue("system", "user", defaults.user) != zone.user ||
                edit.ReadValue("system", "ip", defaults.ip) != zone.host)
                return false;
            return edit.WriteValue("system", "psw", "");
        });
    });
}

} // namespace mrvn
