#pragma once

#include "secrets/Keychain.h"

#include <map>

namespace mrvn {

// A password store in memory, for tests and for a run that must not touch the system's: it
// answers as the system's does (later, from the event loop), or not at all when unavailable.
class MemoryKeychain : public Keychain
{
public:
    explicit MemoryKeychain(bool available = true) : m_available(available) {}
    void SetAvailable(bool available) { m_available = available; }
    // A store that takes every call and never answers (a hung Secret Service).
    void SetSilent(bool silent) { m_silent = silent; }
    const std::map<std::string, std::string>& Entries() const { return m_entries; }

    void Read(const SecretName& name, Done done) override;
    void Write(const SecretName& name, const std::string& password, Done done) override;
    void Remove(const SecretName& name, Done done) override;

private:
    void Answer(KeychainResult result, Done done);
    bool m_available;
    bool m_silent = false;
    std::map<std::string, std::string> m_entries;
};

} // namespace mrvn
