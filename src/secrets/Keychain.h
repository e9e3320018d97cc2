#pragma once

#include <functional>
#include <memory>
#include <string>

// The password of a database login kept in the system's password store (Windows' Credential
// Manager, the Secret Service on Linux) instead of a file beside the program. The store is
// asked asynchronously; a store that does not answer is said so, so that the window asks for
// the password rather than falling back to a file. No temporary file ever holds a password.

namespace mrvn {

// Which password: the tool, the server's host and port, and the login's user.
struct SecretName
{
    std::string host;
    unsigned port = 0;
    std::string user;

    // "mrvntool/<host>:<port>/<user>". Windows' Credential Manager, which every program of the
    // user shares, names a credential by this alone, so it carries the tool's name.
    std::string Key() const;
};

enum class KeychainStatus {
    Done,
    NotFound,    // a read found no password under the name
    Unavailable, // no password store answers here (none installed, no session bus, ...)
    Failed,      // the store answered and refused (access denied, ...)
};

struct KeychainResult
{
    KeychainStatus status = KeychainStatus::Done;
    std::string password; // a read that is Done
    std::string reason;   // the store's own words when not Done (never the password)
};

class Keychain
{
public:
    // Runs on the thread that made the call, from its event loop, after the call returned.
    using Done = std::function<void(KeychainResult)>;

    virtual ~Keychain() = default;
    virtual void Read(const SecretName& name, Done done) = 0;
    virtual void Write(const SecretName& name, const std::string& password, Done done) = 0;
    // Done also when nothing was stored under the name.
    virtual void Remove(const SecretName& name, Done done) = 0;
};

// Whether a password store answers: Done when one does (it was asked for a name that is
// never stored), Unavailable or Failed with its reason when not.
void CheckKeychainAnswers(Keychain& keychain, Keychain::Done done);

// Read, with a deadline: a store that has not answered within `ms` (a hung Secret Service, a
// locked store nobody unlocks) is taken as Unavailable, so the window asks for the password
// instead of waiting; an answer after the deadline is dropped. `done` runs once.
void ReadWithin(Keychain& keychain, const SecretName& name, int ms, Keychain::Done done);
inline constexpr int kKeychainAnswerMs = 15000;

// The system's password store (QtKeychain). Its calls need the thread's event loop running.
std::unique_ptr<Keychain> MakeSystemKeychain();

} // namespace mrvn
