#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
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

namespace {

std::size_t PageSize() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize;
#else
  const long size = sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::size_t>(size) : 4096;
#endif
}

}  // namespace

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

LinkRemoval RemoveSymbolicLink(const char* path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return LinkRemoval::NoLink;
  }
  const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path) != 0
                                                               : DeleteFileA(path) != 0;
#else
  struct stat status;
  if (lstat(path, &status) != 0 || !S_ISLNK(status.st_mode)) return LinkRemoval::NoLink;
  const bool removed = unlink(path) == 0;
#endif
  return removed ? LinkRemoval::Removed : LinkRemoval::CannotRemove;
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

char* AllocatePageAlignedBlock(std::int64_t size) {
  const std::size_t page = PageSize();
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
