// Claim files: a lock held for as long as the process lives, and the name
// removed when it ends in order (termination.cpp removes it when the process
// is told to terminate).
#include "platform/platform.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32

// The lock covers one byte far beyond the holder's text, which stays
// readable: a lock on Windows keeps others from reading what it covers.
constexpr DWORD kHoldOffsetHigh = 0x40000000;

HANDLE HandleOf(std::intptr_t held) { return reinterpret_cast<HANDLE>(held); }

std::intptr_t OpenToHold(const char* path) {
  const HANDLE handle = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
}

Hold LockToHold(std::intptr_t held) {
  OVERLAPPED where = {};
  where.OffsetHigh = kHoldOffsetHigh;
  if (LockFileEx(HandleOf(held), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                 &where) != 0) {
    return Hold::Taken;
  }
  return GetLastError() == ERROR_LOCK_VIOLATION ? Hold::HeldByAnother : Hold::Failed;
}

void Rewrite(std::intptr_t held, const std::string& text) {
  SetFilePointer(HandleOf(held), 0, nullptr, FILE_BEGIN);
  SetEndOfFile(HandleOf(held));
  DWORD written = 0;
  WriteFile(HandleOf(held), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void CloseHeld(std::intptr_t held) { CloseHandle(HandleOf(held)); }

std::string ReadHolder(const char* path) {
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

#else

std::intptr_t OpenToHold(const char* path) {
  // Never through a link, never blocking on a pipe someone put there.
  return open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
}

Hold LockToHold(std::intptr_t descriptor) {
  if (flock(static_cast<int>(descriptor), LOCK_EX | LOCK_NB) == 0) return Hold::Taken;
  return errno == EWOULDBLOCK ? Hold::HeldByAnother : Hold::Failed;
}

void Rewrite(std::intptr_t held, const std::string& text) {
  const int descriptor = static_cast<int>(held);
  // The holder's text only helps whoever finds the file held; a failed
  // write changes nothing about the hold.
  if (ftruncate(descriptor, 0) != 0) return;
  const ssize_t written = pwrite(descriptor, text.data(), text.size(), 0);
  static_cast<void>(written);
}

void CloseHeld(std::intptr_t descriptor) { close(static_cast<int>(descriptor)); }

std::string ReadHolder(const char* path) {
  const int descriptor = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (descriptor == -1) return std::string();
  char text[1024];
  const ssize_t read = pread(descriptor, text, sizeof text, 0);
  close(descriptor);
  return std::string(text, read > 0 ? static_cast<std::size_t>(read) : 0);
}

#endif

// Locked, and still the plain file at the name: not one its last holder
// removed between our open and our lock.
bool StillAtName(std::intptr_t held, const char* path) {
  FileIdentity opened;
  FileIdentity named;
  return KindOfName(path) == NameKind::PlainFile && IdentityOfOpenFile(held, opened) &&
         IdentityOfName(path, named) && opened == named;
}

}  // namespace

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

std::string HolderOfFileAt(const char* path) { return ReadHolder(path); }

void ReleaseFileAt(const char* path, HeldFile& held) {
  if (held.handle == -1) return;
  RemoveName(path);
  CloseHeld(held.handle);
  held.handle = -1;
}
