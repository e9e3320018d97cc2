#include "secrets/MemoryKeychain.h"

#include <QTimer>

namespace mrvn {

void MemoryKeychain::Answer(KeychainResult result, Done done)
{
    if (m_silent)
        return;
    if (!m_available)
        result = {KeychainStatus::Unavailable, {}, "no password store (test)"};
    QTimer::singleShot(0, [result = std::move(result), done = std::move(done)]() mutable {
        done(std::move(result));
    });
}

void MemoryKeychain::Read(const SecretName& name, Done done)
{
    const auto found = m_entries.find(name.Key());
    Answer(found == m_entries.end() ? KeychainResult{KeychainStatus::NotFound, {}, "not found"}
                                    : KeychainResult{KeychainStatus::Done, found->second, {}},
           std::move(done));
}

void MemoryKeychain::Write(const SecretName& name, const std::string& password, Done done)
{
    if (m_available)
        m_entries[name.Key()] = password;
    Answer({}, std::move(done));
}

void MemoryKeychain::Remove(const SecretName& name, Done done)
{
    if (m_available)
        m_entries.erase(name.Key());
    Answer({}, std::move(done));
}

} // namespace mrvn
