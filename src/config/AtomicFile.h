#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

// Reading and replacing a small settings file safely: the one place where config.dat meets
// the operating system (POSIX or Win32 file calls, both in AtomicFile.cpp). Rules it keeps:
// - only a regular file is read or replaced; a FIFO, device or directory of that name is
//   refused without being opened in a way that could block;
// - a replacement is all or nothing: the new bytes go to a temporary file beside the target,
//   are flushed to disk, and then take the target's name in one step (rename on POSIX,
//   MoveFileExW with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH on Windows); a
//   write that fails or is killed at any point leaves the old file as it was;
// - a symbolic link is written through: its final target is replaced, in the target's own
//   folder, and the link stays a link;
// - a new file is readable by its owner only (POSIX mode 0600; on Windows it inherits the
//   folder's access list); a replaced file keeps its mode;
// - temporary files are named ".<name>.<pid>.<n>.tmp". While its writer runs, a temporary
//   file is held (POSIX: an exclusive flock; Windows: opened without delete sharing), so
//   no other instance removes it. One that nobody holds and that was last modified at least
//   kStaleTemporaryAge ago is left over from a crashed write (it may hold the password in
//   plain text) and is removed by the next write to the same file and at start-up;
// - a read-modify-write holds an exclusive lock on "<name>.lock" beside the file (POSIX:
//   flock; Windows: LockFileEx), so two copies of the tool take turns; the lock file is
//   left in place, empty (removing it would let a third copy lock a new file of the name).
namespace mrvn {

enum class ReadResult { Loaded, Missing, NotRegular, Unreadable };

// Reads the whole file into `bytes`.
ReadResult ReadRegularFile(const std::filesystem::path& path, std::string& bytes);

// The file a write to `path` replaces: `path` itself, or the end of its chain of symbolic
// links (relative links resolved against the folder of the link).
std::filesystem::path ResolveWriteTarget(const std::filesystem::path& path);

inline constexpr std::chrono::seconds kStaleTemporaryAge{60};

// Removes the temporary files of earlier writes to `target` that nobody holds any more and
// that are older than kStaleTemporaryAge. Returns how many were removed.
std::size_t RemoveStaleTemporaries(const std::filesystem::path& target);

// How long a writer waits for another copy's read-modify-write before it gives up: such a
// turn takes milliseconds; a copy that holds the lock longer has hung.
inline constexpr std::chrono::milliseconds kLockWait{10000};

// The exclusive lock of `target` (see above), held until the object goes. Locked() is false
// when the lock file could not be opened or the lock was not had within kLockWait.
class FileLock
{
public:
    explicit FileLock(const std::filesystem::path& target);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool Locked() const { return m_locked; }

private:
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
    bool m_locked = false;
};

// One replacement of `target`: construct, Write, Commit. Destroying it uncommitted removes
// the temporary file.
class AtomicFileWriter
{
public:
    explicit AtomicFileWriter(std::filesystem::path target);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    bool IsOpen() const;
    const std::filesystem::path& TemporaryPath() const { return m_temporary; }
    bool Write(std::string_view bytes);
    // Flushes the temporary file to disk and puts it in the target's place.
    bool Commit();
    // Lets go of the temporary file without removing it, as a process killed between the
    // write and the replacement would: for tests of what such a crash leaves behind.
    void AbandonAsIfKilled();

private:
    void Close();

    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_fd = -1;
#endif
    bool m_failed = false;
};

// Writes `bytes` as the new content of `path` (see the rules above). False when it could not
// be written; the old file is then unchanged.
bool ReplaceFileContent(const std::filesystem::path& path, std::string_view bytes);

} // namespace mrvn
