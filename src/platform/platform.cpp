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

bool IdentityOfOpenFile(std::intptr_t handle, FileIdentity& identity) {
  return IdentityOfOpenHandle(reinterpret_cast<HANDLE>(handle), identity);
}

const char* CharactersNotAllowedInNames() { return "<>:\"|?*"; }

void IgnoreFileSizeLimitSignal() {}  // Windows has no such signal

#else

namespace {

// The identity a stat call found: `result` is the call's, 0 when it found
// the file; `identity` stays as it was otherwise.
bool IdentityIfFound(int result, const struct stat& status, FileIdentity& identity) {
  if (result != 0) return false;
  identity = FileIdentity();
  identity.device = static_cast<std::uint64_t>(status.st_dev);
  identity.file[0] = static_cast<std::uint64_t>(status.st_ino);
  return true;
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
  const bool known = IdentityOfOpenFile(descriptor, identity);
  close(descriptor);
  return known ? Creation::Created : Creation::Failed;
}

bool IdentityOfName(const char* path, FileIdentity& identity) {
  struct stat status;
  return IdentityIfFound(lstat(path, &status), status, identity);
}

bool IdentityOfOpenFile(std::intptr_t descriptor, FileIdentity& identity) {
  struct stat status;
  return IdentityIfFound(fstat(static_cast<int>(descriptor), &status), status, identity);
}

namespace {

bool IdentityFollowingLinks(const char* path, FileIdentity& identity) {
  struct stat status;
  return IdentityIfFound(stat(path, &status), status, identity);
}

}  // namespace

const char* CharactersNotAllowedInNames() { return ""; }

void IgnoreFileSizeLimitSignal() { std::signal(SIGXFSZ, SIG_IGN); }

#endif

bool SamePlace(const char* first, const char* second) {
  FileIdentity firstIdentity;
  FileIdentity secondIdentity;
  return IdentityFollowingLinks(first, firstIdentity) &&
         IdentityFollowingLinks(second, secondIdentity) && firstIdentity == secondIdentity;
}

long ProcessId() {
#ifdef _WIN32
  return static_cast<long>(GetCurrentProcessId());
#else
  return static_cast<long>(getpid());
#endif
}

bool ProcessRuns(long id) {
  if (id <= 0) return false;
#ifdef _WIN32
  const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
  // A process we may not open is there all the same.
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return running;
#else
  // Signal 0 only asks; EPERM means the process is another user's.
  return kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
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
