#include "config/AtomicFile.h"

#include <atomic>
#include <system_error>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace mrvn {

namespace fs = std::filesystem;

namespace {

std::atomic<unsigned> g_temporaryCounter{0};

// ".config.dat." for config.dat: what every temporary file of that target starts with
// (this program's and those of earlier versions).
std::filesystem::path::string_type TemporaryPrefix(const fs::path& target)
{
    return fs::path(".").native() + target.filename().native() + fs::path(".").native();
}

#ifdef _WIN32
unsigned long ProcessId()
{
    return GetCurrentProcessId();
}
#else
unsigned long ProcessId()
{
    return static_cast<unsigned long>(::getpid());
}
#endif

fs::path TemporaryName(const fs::path& target)
{
    const std::string suffix =
        std::to_string(ProcessId()) + "." + std::to_string(g_temporaryCounter++) + ".tmp";
    return target.parent_path() / fs::path(TemporaryPrefix(target) + fs::path(suffix).native());
}

fs::path LockFileName(const fs::path& target)
{
    return fs::path(target.native() + fs::path(".lock").native());
}

// Tries `attempt` until it succeeds or kLockWait has passed.
template <typename Attempt> bool RetryUntilLocked(Attempt attempt)
{
    const auto deadline = std::chrono::steady_clock::now() + kLockWait;
    for (;;) {
        if (attempt())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool IsOldEnough(const fs::path& path)
{
    std::error_code error;
    const auto modified = fs::last_write_time(path, error);
    return !error && fs::file_time_type::clock::now() - modified >= kStaleTemporaryAge;
}

} // namespace

fs::path ResolveWriteTarget(const fs::path& path)
{
    fs::path current = path;
    // A loop of links ends here after as many steps as the system itself allows.
    for (int step = 0; step < 40; ++step) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(current, error)))
            return current;
        const fs::path next = fs::read_symlink(current, error);
        if (error)
            return current;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current;
}

#ifdef _WIN32

ReadResult ReadRegularFile(const fs::path& path, std::string& bytes)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found)
        return ReadResult::Missing;
    if (status.type() != fs::file_type::regular && status.type() != fs::file_type::unknown)
        return ReadResult::NotRegular;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND
                   ? ReadResult::Missing
                   : ReadResult::Unreadable;
    }
    ReadResult result = ReadResult::Loaded;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        result = ReadResult::NotRegular;
    } else {
        char buffer[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
                result = ReadResult::Unreadable;
                break;
            }
            if (got == 0)
                break;
            bytes.append(buffer, got);
        }
    }
    CloseHandle(file);
    return result;
}

namespace {

// A writer holds its file open without delete sharing, so this fails while it runs.
bool RemoveUnlessHeld(const fs::path& temporary)
{
    return DeleteFileW(temporary.c_str()) != 0;
}

} // namespace

FileLock::FileLock(const fs::path& target)
{
    HANDLE file =
        CreateFileW(LockFileName(target).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    m_handle = file;
    if (GetFileType(file) != FILE_TYPE_DISK)
        return;
    m_locked = RetryUntilLocked([file] {
        OVERLAPPED at{};
        return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                          &at) != 0;
    });
}

FileLock::~FileLock()
{
    if (m_handle == nullptr)
        return;
    if (m_locked) {
        OVERLAPPED at{};
        UnlockFileEx(m_handle, 0, 1, 0, &at);
    }
    CloseHandle(m_handle);
}

AtomicFileWriter::AtomicFileWriter(fs::path target) : m_target(std::move(target))
{
    for (int attempt = 0; attempt < 16 && m_handle == nullptr; ++attempt) {
        m_temporary = TemporaryName(m_target);
        HANDLE file =
            CreateFileW(m_temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            m_handle = file;
        else if (GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (m_handle == nullptr)
        m_temporary.clear();
}

bool AtomicFileWriter::IsOpen() const
{
    return m_handle != nullptr;
}

bool AtomicFileWriter::Write(std::string_view bytes)
{
    while (IsOpen() && !m_failed && !bytes.empty()) {
        const DWORD chunk = bytes.size() > (1u << 30) ? (1u << 30) : DWORD(bytes.size());
        DWORD written = 0;
        if (!WriteFile(m_handle, bytes.data(), chunk, &written, nullptr) || written == 0)
            m_failed = true;
        bytes.remove_prefix(written);
    }
    return IsOpen() && !m_failed;
}

void AtomicFileWriter::Close()
{
    if (m_handle != nullptr)
        CloseHandle(m_handle);
    m_handle = nullptr;
}

bool AtomicFileWriter::Commit()
{
    if (!IsOpen() || m_failed)
        return false;
    m_failed = !FlushFileBuffers(m_handle);
    Close();
    if (!m_failed)
        m_failed = !MoveFileExW(m_temporary.c_str(), m_target.c_str(),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (m_failed) {
        DeleteFileW(m_temporary.c_str());
        return false;
    }
    m_temporary.clear();
    return true;
}

AtomicFileWriter::~AtomicFileWriter()
{
    Close();
    if (!m_temporary.empty())
        DeleteFileW(m_temporary.c_str());
}

void AtomicFileWriter::AbandonAsIfKilled()
{
    Close();
    m_temporary.clear();
}

#else

ReadResult ReadRegularFile(const fs::path& path, std::string& bytes)
{
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Unreadable;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return ReadResult::NotRegular;
    }
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return ReadResult::Unreadable;
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return ReadResult::Loaded;
}

namespace {

// A running writer holds the lock until its file has become the target.
bool RemoveUnlessHeld(const fs::path& temporary)
{
    const int fd = ::open(temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool removed = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(temporary.c_str()) == 0;
    ::close(fd);
    return removed;
}

} // namespace

FileLock::FileLock(const fs::path& target)
{
    // O_NONBLOCK: a FIFO of the name must not hold the open; only a regular file is locked.
    m_fd = ::open(LockFileName(target).c_str(),
                  O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (m_fd < 0)
        return;
    struct stat info
    {
    };
    if (::fstat(m_fd, &info) != 0 || !S_ISREG(info.st_mode))
        return;
    const int fd = m_fd;
    m_locked = RetryUntilLocked([fd] { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; });
}

FileLock::~FileLock()
{
    // Closing the descriptor lets go of the lock.
    if (m_fd >= 0)
        ::close(m_fd);
}

AtomicFileWriter::AtomicFileWriter(fs::path target) : m_target(std::move(target))
{
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        m_temporary = TemporaryName(m_target);
        // 0600: the file holds the database password in plain text.
        m_fd =
            ::open(m_temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        m_temporary.clear();
        return;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0)
        m_failed = true;
    // A replaced file keeps the mode its owner gave it.
    struct stat info
    {
    };
    if (::stat(m_target.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::fchmod(m_fd, info.st_mode & 07777) != 0)
        m_failed = true;
}

bool AtomicFileWriter::IsOpen() const
{
    return m_fd >= 0;
}

bool AtomicFileWriter::Write(std::string_view bytes)
{
    while (IsOpen() && !m_failed && !bytes.empty()) {
        const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            m_failed = true;
        else
            bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return IsOpen() && !m_failed;
}

void AtomicFileWriter::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool AtomicFileWriter::Commit()
{
    if (!IsOpen() || m_failed)
        return false;
    // Renamed while still locked, so no cleaner can take it in between.
    m_failed = ::fsync(m_fd) != 0 || ::rename(m_temporary.c_str(), m_target.c_str()) != 0;
    Close();
    if (m_failed) {
        ::unlink(m_temporary.c_str());
        return false;
    }
    m_temporary.clear();
    const fs::path folder = m_target.parent_path().empty() ? fs::path(".") : m_target.parent_path();
    const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return true;
}

AtomicFileWriter::~AtomicFileWriter()
{
    Close();
    if (!m_temporary.empty())
        ::unlink(m_temporary.c_str());
}

void AtomicFileWriter::AbandonAsIfKilled()
{
    Close();
    m_temporary.clear();
}

#endif

std::size_t RemoveStaleTemporaries(const fs::path& target)
{
    std::size_t removed = 0;
    std::error_code error;
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    const auto prefix = TemporaryPrefix(target);
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const fs::path& candidate = it->path();
        if (!candidate.filename().native().starts_with(prefix))
            continue;
        std::error_code statusError;
        if (fs::is_regular_file(fs::symlink_status(candidate, statusError)) &&
            IsOldEnough(candidate) && RemoveUnlessHeld(candidate))
            ++removed;
    }
    return removed;
}

bool ReplaceFileContent(const fs::path& path, std::string_view bytes)
{
    const fs::path target = ResolveWriteTarget(path);
    RemoveStaleTemporaries(target);
    AtomicFileWriter writer(target);
    return writer.Write(bytes) && writer.Commit();
}

} // namespace mrvn
