#pragma once

#include "config/Zones.h"

#include <QDialog>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

namespace mrvn {

class Dialogs;
class Keychain;

// "管理区服": the zones in their order, to add, duplicate, rename, recolour, reorder and
// delete. Each change is made to zones.ini at once, on the file as it is then (under its
// lock), and the list shows the file again; nothing waits for a final OK. The zone in use
// cannot be deleted; a rename of it is followed (InUse). Below the list, the selected zone's
// way in: TLS, the SSH tunnel and where its password is kept; moving a password kept in the
// files into the keychain removes it from zones.ini and config.dat (`configPath`).
class ZonesDialog : public QDialog
{
    Q_OBJECT
public:
    ZonesDialog(ZonesFile& file, Dialogs& dialogs, const QString& inUse,
                std::shared_ptr<Keychain> keychain, std::filesystem::path configPath,
                QWidget* parent = nullptr);

    // The zone in use, by its name now.
    const QString& InUse() const { return m_inUse; }
    // The zone selected in the list ("" when none).
    QString Selected() const;

    void AddZone();
    void DuplicateZone();
    void RenameZone();
    void DeleteZone();
    void MoveZone(int delta);
    // Gives the selected zone the palette's colour `index`; the entry after the palette asks
    // for a colour as "#rrggbb".
    void ChooseColor(int index);
    void ChooseTls(int mode);
    void ChoosePasswordPlace(int place);
    void PickCaFile();
    void PickKeyFile();
    void ForgetFingerprints();

private:
    // Runs `change` on the file; says why when it was refused or not written. True when the
    // file now holds the change.
    bool Apply(const std::function<ZoneEdit(ZoneList&)>& change);
    void Reload(const QString& select);
    void ShowSelected();
    void Warn(const char* text);
    std::optional<QString> AskName(const QString& initial);
    QWidget* MakeReachBox();
    // Changes the selected zone in the file and shows it again.
    void EditSelected(const std::function<void(Zone&)>& change);
    void TakeSshBoxes();
    // Keeps the selected zone's plain password in the keychain, then out of both files.
    void MovePasswordToKeychain(const Zone& zone);

    ZonesFile& m_file;
    Dialogs& m_dialogs;
    QString m_inUse;
    ZoneList m_list;
    QListWidget* m_zones;
    QComboBox* m_color;
    QPushButton* m_duplicate;
    QPushButton* m_rename;
    QPushButton* m_up;
    QPushButton* m_down;
    QPushButton* m_delete;
    std::shared_ptr<Keychain> m_keychain;
    std::filesystem::path m_configPath;
    QWidget* m_reach = nullptr;
    QComboBox* m_tls = nullptr;
    QLineEdit* m_caFile = nullptr;
    QPushButton* m_pickCa = nullptr;
    QLineEdit* m_sshHost = nullptr;
    QLineEdit* m_sshPort = nullptr;
    QLineEdit* m_sshUser = nullptr;
    QLineEdit* m_sshKey = nullptr;
    QComboBox* m_passwordPlace = nullptr;
    QLabel* m_fingerprints = nullptr;
};

} // namespace mrvn
