// Termination requests, and the few calls a handler of one makes: writes of
// prepared bytes, the removal of the claim file's name, and the end.
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

TerminationHandler Handler = nullptr;

// Only what a handler may touch: fixed buffers. A handler may come at any
// time, so a name is copied into the buffer it does not read, then that one
// is made the name; it never sees half a name.
char Names[2][4096];
std::atomic<int> NameToRemove{-1};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler may use only lock-free atomics");

void RemoveNameOnTheWayOut() {
  const int name = NameToRemove.load();
  if (name != -1) RemoveName(Names[name]);
}

}  // namespace

void RemoveOnTermination(const char* path) {
  if (path == nullptr || std::strlen(path) >= sizeof Names[0]) {
    NameToRemove.store(-1);
    return;
  }
  const int unread = NameToRemove.load() == 0 ? 1 : 0;
  std::memcpy(Names[unread], path, std::strlen(path) + 1);
  NameToRemove.store(unread);
}

#ifdef _WIN32

namespace {

// A request put off waits this long for the line under way before the
// process ends without it: a console that never takes the line must not
// keep the process alive.
constexpr DWORD kPutOffWaitMilliseconds = 10000;

BOOL WINAPI OnConsoleEvent(DWORD event) {
  Handler(static_cast<int>(event));
  Sleep(kPutOffWaitMilliseconds);
  EndAsRequested(static_cast<int>(event));
}

}  // namespace

void HandleTerminationRequests(TerminationHandler handler) {
  Handler = handler;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

const char* TerminationRequestName(int request) {
  switch (request) {
    case CTRL_C_EVENT: return "console event CTRL_C_EVENT";
    case CTRL_BREAK_EVENT: return "console event CTRL_BREAK_EVENT";
    case CTRL_CLOSE_EVENT: return "console event CTRL_CLOSE_EVENT";
    case CTRL_LOGOFF_EVENT: return "console event CTRL_LOGOFF_EVENT";
    case CTRL_SHUTDOWN_EVENT: return "console event CTRL_SHUTDOWN_EVENT";
    default: return "console event of an unknown kind";
  }
}

void EndAsRequested(int) {
  // The claim file was opened to be shared for deletion: it goes with our
  // handle.
  RemoveNameOnTheWayOut();
  // As the system's own handler of these events ends a process.
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

int ConsoleDescriptor() { return _fileno(stdout); }

int OpenToAppend(const char* path, const FileIdentity& expected) {
  int descriptor = -1;
  // Text mode, as the results file is written: each newline becomes CR LF.
  if (_sopen_s(&descriptor, path, _O_WRONLY | _O_APPEND | _O_TEXT, _SH_DENYNO, 0) != 0) return -1;
  FileIdentity opened;
  if (IdentityOfOpenFile(_get_osfhandle(descriptor), opened) && opened == expected) return descriptor;
  _close(descriptor);
  return -1;
}

void WriteAll(int descriptor, const char* bytes, std::size_t size) {
  while (size > 0) {
    const int written = _write(descriptor, bytes, static_cast<unsigned>(size));
    if (written <= 0) return;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

#else

namespace {

struct Request {
  int signal;
  const char* name;
  // Made before any handler runs: formatting is not safe inside one.
  char text[32];
};
Request Requests[] = {{SIGTERM, "SIGTERM", ""}, {SIGINT, "SIGINT", ""}, {SIGHUP, "SIGHUP", ""}};

void CallHandler(int signal) { Handler(signal); }

bool IgnoredSinceStart(int signal) {
  struct sigaction current;
  return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

}  // namespace

void HandleTerminationRequests(TerminationHandler handler) {
  Handler = handler;
  struct sigaction action = {};
  action.sa_handler = CallHandler;
  // Reset on entry, so that a second request of the same kind ends the
  // process at once; a write the first one interrupted goes on, since the
  // handler may return, the request put off until that line is whole.
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (const Request& request : Requests) sigaddset(&action.sa_mask, request.signal);
  for (Request& request : Requests) {
    std::snprintf(request.text, sizeof request.text, "signal %s (%d)", request.name, request.signal);
    if (!IgnoredSinceStart(request.signal)) sigaction(request.signal, &action, nullptr);
  }
}

const char* TerminationRequestName(int request) {
  for (const Request& known : Requests) {
    if (known.signal == request) return known.text;
  }
  return "a signal";
}

void EndAsRequested(int request) {
  RemoveNameOnTheWayOut();
  // The default action, delivered now: also from inside the handler, where
  // the signal would otherwise wait, blocked, until the handler returned.
  std::signal(request, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, request);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  raise(request);
  _exit(128 + request);  // a request whose default action does not end a process
}

int ConsoleDescriptor() { return STDOUT_FILENO; }

int OpenToAppend(const char* path, const FileIdentity& expected) {
  const int descriptor = open(path, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor == -1) return -1;
  FileIdentity opened;
  if (IdentityOfOpenFile(descriptor, opened) && opened == expected) return descriptor;
  close(descriptor);
  return -1;
}

void WriteAll(int descriptor, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(descriptor, bytes, size);
    if (written == -1 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
}

#endif
