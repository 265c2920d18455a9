#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <malloc.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

int OpenDescriptor(const char* path) {
#ifdef _WIN32
  int descriptor = -1;
  _sopen_s(&descriptor, path, _O_CREAT | _O_RDWR, _SH_DENYNO, _S_IREAD | _S_IWRITE);
  return descriptor;
#else
  return open(path, O_CREAT | O_RDWR, 0777);
#endif
}

bool CloseDescriptor(int descriptor) {
#ifdef _WIN32
  return _close(descriptor) == 0;
#else
  return close(descriptor) == 0;
#endif
}

#ifdef _WIN32
namespace {

// A handle on the name itself, never on what a link points at; opened for
// no access, so that no sharing mode of another process refuses it.
HANDLE OpenNameItself(const char* path) {
  return CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                     nullptr);
}

bool InformationOf(HANDLE handle, BY_HANDLE_FILE_INFORMATION& information) {
  const bool found = GetFileInformationByHandle(handle, &information) != 0;
  CloseHandle(handle);
  return found;
}

// ReFS (a Dev Drive too) numbers its files with 128 bits, and the 64-bit
// index GetFileInformationByHandle gives may be the same for two of them.
// Systems before Windows 8 know no 128-bit ID: there the 64-bit index is all
// there is. A volume answers the same way for all its files, so identities
// of one file taken on the same system always come by the same way.
bool IdentityOfOpenHandle(HANDLE handle, FileIdentity& identity) {
  FILE_ID_INFO wide;
  if (GetFileInformationByHandleEx(handle, FileIdInfo, &wide, sizeof wide) != 0) {
    static_assert(sizeof wide.FileId.Identifier == sizeof identity.file, "a 128-bit file ID");
    identity.device = wide.VolumeSerialNumber;
    std::memcpy(identity.file, wide.FileId.Identifier, sizeof identity.file);
    return true;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileInformationByHandle(handle, &information) == 0) return false;
  identity.device = information.dwVolumeSerialNumber;
  identity.file[0] = (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow;
  identity.file[1] = 0;
  return true;
}

// The identity of a handle opened for it alone, which is closed.
bool IdentityOfHandle(HANDLE handle, FileIdentity& identity) {
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool found = IdentityOfOpenHandle(handle, identity);
  CloseHandle(handle);
  return found;
}

}  // namespace

NameKind KindOfName(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return NameKind::Nothing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return NameKind::SymbolicLink;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return NameKind::Directory;
  BY_HANDLE_FILE_INFORMATION information;
  const HANDLE handle = OpenNameItself(path);
  if (handle == INVALID_HANDLE_VALUE || !InformationOf(handle, information)) {
    return NameKind::PlainFile;  // its opens show whether it can be used
  }
  return information.nNumberOfLinks > 1 ? NameKind::LinkedFile : NameKind::PlainFile;
}

bool RemoveName(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  // A link to a directory is removed as a directory, which leaves its target.
  return (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
             ? RemoveDirectoryA(path) != 0
             : DeleteFileA(path) != 0;
}

Creation CreateNewFile(const char* path, FileIdentity& identity) {
  const HANDLE handle =
      CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Creation::NameTaken
                                                                       : Creation::Failed;
  }
  return IdentityOfHandle(handle, identity) ? Creation::Created : Creation::Failed;
}

namespace {

bool IdentityFollowingLinks(const char* path, FileIdentity& identity) {
  return IdentityOfHandle(
      CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr),
      identity);
}

}  // namespace

bool IdentityOfName(const char* path, FileIdentity& identity) {
  return IdentityOfHandle(OpenNameItself(path), identity);
}

namespace {

// The lock covers one byte far beyond the holder's text, which stays
// readable: a lock on Windows keeps others from reading what it covers.
constexpr DWORD kHoldOffsetHigh = 0x40000000;

bool LockWithoutWaiting(HANDLE handle) {
  OVERLAPPED where = {};
  where.OffsetHigh = kHoldOffsetHigh;
  return LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &where) != 0;
}

bool StillAtName(std::intptr_t held, const char* path) {
  FileIdentity opened;
  FileIdentity named;
  return IdentityOfOpenHandle(reinterpret_cast<HANDLE>(held), opened) &&
         IdentityOfName(path, named) && named == opened;
}

void Rewrite(std::intptr_t held, const std::string& text) {
  const HANDLE handle = reinterpret_cast<HANDLE>(held);
  SetFilePointer(handle, 0, nullptr, FILE_BEGIN);
  SetEndOfFile(handle);
  DWORD written = 0;
  WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::intptr_t OpenToHold(const char* path) {
  const HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}

Hold LockToHold(std::intptr_t handle) {
  if (LockWithoutWaiting(reinterpret_cast<HANDLE>(handle))) return Hold::Taken;
  return GetLastError() == ERROR_LOCK_VIOLATION ? Hold::HeldByAnother : Hold::Failed;
}

void CloseHeld(std::intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

}  // namespace

std::string HolderOfFileAt(const char* path) {
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::string();
  char text[1024];
  DWORD read = 0;
  if (ReadFile(handle, text, sizeof text, &read, nullptr) == 0) read = 0;
  CloseHandle(handle);
  return std::string(text, read);
}

const char* CharactersNotAllowedInNames() { return "<>:\"|?*"; }

void IgnoreFileSizeLimitSignal() {}  // Windows has no such signal

void RemoveOnTermination(const char*) {}

#else

namespace {

FileIdentity IdentityOf(const struct stat& status) {
  FileIdentity identity;
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.file[0] = static_cast<std::uint64_t>(status.st_ino);
  return identity;
}

NameKind KindOfStatus(const struct stat& status) {
  if (S_ISREG(status.st_mode)) {
    return status.st_nlink > 1 ? NameKind::LinkedFile : NameKind::PlainFile;
  }
  if (S_ISDIR(status.st_mode)) return NameKind::Directory;
  if (S_ISLNK(status.st_mode)) return NameKind::SymbolicLink;
  if (S_ISFIFO(status.st_mode)) return NameKind::NamedPipe;
  if (S_ISSOCK(status.st_mode)) return NameKind::Socket;
  if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) return NameKind::Device;
  return NameKind::OtherSpecialFile;
}

}  // namespace

NameKind KindOfName(const char* path) {
  struct stat status;
  // A name that cannot be looked at cannot be opened either: its opens fail
  // and are counted.
  if (lstat(path, &status) != 0) return NameKind::Nothing;
  return KindOfStatus(status);
}

bool RemoveName(const char* path) { return unlink(path) == 0; }

Creation CreateNewFile(const char* path, FileIdentity& identity) {
  const int descriptor = open(path, O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (descriptor == -1) return errno == EEXIST ? Creation::NameTaken : Creation::Failed;
  struct stat status;
  const bool known = fstat(descriptor, &status) == 0;
  close(descriptor);
  if (!known) return Creation::Failed;
  identity = IdentityOf(status);
  return Creation::Created;
}

bool IdentityOfName(const char* path, FileIdentity& identity) {
  struct stat status;
  if (lstat(path, &status) != 0) return false;
  identity = IdentityOf(status);
  return true;
}

namespace {

bool StillAtName(std::intptr_t descriptor, const char* path) {
  struct stat opened;
  FileIdentity named;
  return fstat(static_cast<int>(descriptor), &opened) == 0 && S_ISREG(opened.st_mode) &&
         IdentityOfName(path, named) && named == IdentityOf(opened);
}

void Rewrite(std::intptr_t held, const std::string& text) {
  const int descriptor = static_cast<int>(held);
  // The holder's text only helps whoever finds the file held; a failed
  // write changes nothing about the hold.
  if (ftruncate(descriptor, 0) != 0) return;
  const ssize_t written = pwrite(descriptor, text.data(), text.size(), 0);
  static_cast<void>(written);
}

std::intptr_t OpenToHold(const char* path) {
  // Never through a link, never blocking on a pipe someone put there.
  return open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
}

Hold LockToHold(std::intptr_t descriptor) {
  if (flock(static_cast<int>(descriptor), LOCK_EX | LOCK_NB) == 0) return Hold::Taken;
  return errno == EWOULDBLOCK ? Hold::HeldByAnother : Hold::Failed;
}

void CloseHeld(std::intptr_t descriptor) { close(static_cast<int>(descriptor)); }

}  // namespace

std::string HolderOfFileAt(const char* path) {
  const int descriptor = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor == -1) return std::string();
  char text[1024];
  const ssize_t read = pread(descriptor, text, sizeof text, 0);
  close(descriptor);
  return std::string(text, read > 0 ? static_cast<std::size_t>(read) : 0);
}

namespace {

bool IdentityFollowingLinks(const char* path, FileIdentity& identity) {
  struct stat status;
  if (stat(path, &status) != 0) return false;
  identity = IdentityOf(status);
  return true;
}

}  // namespace

const char* CharactersNotAllowedInNames() { return ""; }

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

namespace {

// Only what a signal handler may touch: a fixed buffer and unlink.
char NameToRemove[4096];

void RemoveAndTerminate(int signal) {
  if (NameToRemove[0] != '\0') unlink(NameToRemove);
  // The handler was reset on entry: the signal now ends the process as it
  // would have without one.
  raise(signal);
}

void HandleTermination(void (*handler)(int)) {
  struct sigaction action = {};
  action.sa_handler = handler;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace

void RemoveOnTermination(const char* path) {
  // The handlers never see half a name: it is set before they come and
  // cleared after they are gone.
  if (path == nullptr || std::strlen(path) >= sizeof NameToRemove) {
    HandleTermination(SIG_DFL);
    NameToRemove[0] = '\0';
    return;
  }
  std::memcpy(NameToRemove, path, std::strlen(path) + 1);
  HandleTermination(RemoveAndTerminate);
}

#endif

bool SamePlace(const char* first, const char* second) {
  FileIdentity firstIdentity;
  FileIdentity secondIdentity;
  return IdentityFollowingLinks(first, firstIdentity) &&
         IdentityFollowingLinks(second, secondIdentity) && firstIdentity == secondIdentity;
}

Hold HoldFileAt(const char* path, const std::string& holder, HeldFile& held) {
  // A holder that released the name between our open and our lock leaves us
  // a file no longer at the name: open again.
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::intptr_t handle = OpenToHold(path);
    if (handle == -1) return Hold::Failed;
    const Hold hold = LockToHold(handle);
    if (hold == Hold::Taken && StillAtName(handle, path)) {
      Rewrite(handle, holder);
      held.handle = handle;
      return Hold::Taken;
    }
    CloseHeld(handle);
    if (hold != Hold::Taken) return hold;
  }
  return Hold::Failed;
}

void ReleaseFileAt(const char* path, HeldFile& held) {
  if (held.handle == -1) return;
  RemoveName(path);
  CloseHeld(held.handle);
  held.handle = -1;
}

long ProcessId() {
#ifdef _WIN32
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(getpid());
#endif
}

std::string CurrentDirectoryAsNamed() {
  const char* named = std::getenv("PWD");
  return named != nullptr && *named != '\0' && SamePlace(named, ".") ? named : std::string();
}

std::string CurrentDirectory() {
  // Grow the buffer until the whole path fits: a deep directory may be far
  // longer than any fixed limit.
  for (std::size_t capacity = 4096; capacity <= (std::size_t{1} << 24); capacity *= 2) {
    std::vector<char> buffer(capacity);
    errno = 0;  // some runtimes fail without setting it
#ifdef _WIN32
    const char* directory = _getcwd(buffer.data(), static_cast<int>(capacity));
#else
    const char* directory = getcwd(buffer.data(), capacity);
#endif
    if (directory != nullptr) return directory;
    // Only a buffer too small is worth another try: a directory beyond
    // Windows' path limit is refused whatever the buffer.
    if (errno != ERANGE) break;
  }
  return std::string();
}

char PathSeparator() {
#ifdef _WIN32
  return '\\';
#else
  return '/';
#endif
}

std::size_t PageSizeOfSystem() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
#else
  const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 4096;
#endif
}

char* AllocatePageAlignedBlock(std::int64_t size) {
  const std::size_t page = PageSizeOfSystem();
  const std::size_t bytes = size > 0 ? static_cast<std::size_t>(size) : 0;
  const std::size_t rounded = (bytes / page + 1) * page;  // never 0, always a page multiple
#ifdef _WIN32
  return static_cast<char*>(_aligned_malloc(rounded, page));
#else
  return static_cast<char*>(std::aligned_alloc(page, rounded));
#endif
}

void ReleasePageAlignedBlock(char* block) {
#ifdef _WIN32
  _aligned_free(block);
#else
  std::free(block);
#endif
}
