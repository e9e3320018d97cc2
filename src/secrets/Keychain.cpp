#include "secrets/Keychain.h"

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <qt6keychain/keychain.h>

#include <memory>

namespace mrvn {

namespace {

// The service the entries belong to on Linux, where service and key together name an entry.
const QString kService = QStringLiteral("mrvntool");
// A name no password is ever stored under: reading it tells whether a store answers.
const SecretName kNeverStored{"keychain-check", 0, "none"};

KeychainStatus StatusOf(QKeychain::Error error)
{
    switch (error) {
    case QKeychain::NoError:
        return KeychainStatus::Done;
    case QKeychain::EntryNotFound:
        return KeychainStatus::NotFound;
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
    case QKeychain::CouldNotDeleteEntry:
        return KeychainStatus::Failed;
    case QKeychain::NoBackendAvailable:
    case QKeychain::NotImplemented:
    case QKeychain::OtherError:
    default:
        // Without libsecret, a session bus or a Secret Service on it, QtKeychain says
        // "OtherError" with its reason: no store answers, and the operator is asked instead.
        return KeychainStatus::Unavailable;
    }
}

// Runs a job and hands its outcome to `done`; `read` takes the password from a read job.
void Start(QKeychain::Job* job, Keychain::Done done, bool read, bool missingIsDone)
{
    QObject::connect(
        job, &QKeychain::Job::finished, job,
        [done = std::move(done), read, missingIsDone](QKeychain::Job* finished) {
            KeychainResult result;
            result.status = StatusOf(finished->error());
            if (missingIsDone && result.status == KeychainStatus::NotFound)
                result.status = KeychainStatus::Done;
            if (result.status != KeychainStatus::Done)
                result.reason = finished->errorString().toStdString();
            else if (read)
                result.password =
                    static_cast<QKeychain::ReadPasswordJob*>(finished)->binaryData().toStdString();
            done(std::move(result));
        });
    job->start();
}

class SystemKeychain : public Keychain
{
public:
    void Read(const SecretName& name, Done done) override
    {
        auto* job = new QKeychain::ReadPasswordJob(kService);
        job->setKey(QString::fromStdString(name.Key()));
        Start(job, std::move(done), true, false);
    }

    void Write(const SecretName& name, const std::string& password, Done done) override
    {
        auto* job = new QKeychain::WritePasswordJob(kService);
        job->setKey(QString::fromStdString(name.Key()));
        job->setBinaryData(QByteArray(password.data(), static_cast<qsizetype>(password.size())));
        Start(job, std::move(done), false, false);
    }

    void Remove(const SecretName& name, Done done) override
    {
        auto* job = new QKeychain::DeletePasswordJob(kService);
        job->setKey(QString::fromStdString(name.Key()));
        // Windows says "not found" for a missing entry, libsecret says done: the same here.
        Start(job, std::move(done), false, true);
    }
};

} // namespace

std::string SecretName::Key() const
{
    return "mrvntool/" + host + ":" + std::to_string(port) + "/" + user;
}

void CheckKeychainAnswers(Keychain& keychain, Keychain::Done done)
{
    keychain.Read(kNeverStored, [done = std::move(done)](KeychainResult result) {
        if (result.status == KeychainStatus::NotFound || result.status == KeychainStatus::Done)
            result = {};
        done(std::move(result));
    });
}

void ReadWithin(Keychain& keychain, const SecretName& name, int ms, Keychain::Done done)
{
    auto pending = std::make_shared<Keychain::Done>(std::move(done));
    const auto answer = [pending](KeychainResult result) {
        if (!*pending)
            return;
        const Keychain::Done once = std::move(*pending);
        *pending = nullptr;
        once(std::move(result));
    };
    QTimer::singleShot(ms, [answer, ms] {
        answer(
            {KeychainStatus::Unavailable, {}, std::to_string((ms + 999) / 1000) + " 秒内没有应答"});
    });
    keychain.Read(name, answer);
}

std::unique_ptr<Keychain> MakeSystemKeychain()
{
    return std::make_unique<SystemKeychain>();
}

} // namespace mrvn
