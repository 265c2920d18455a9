// The few operating-system calls the benchmark makes beyond the standard
// library. Everything that differs between Windows and POSIX lives here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Creates the file if missing, opens it for reading and writing, no sharing
// restriction; returns the descriptor, or -1 when the open failed.
int OpenDescriptor(const char* path);
// Returns false when the close failed.
bool CloseDescriptor(int descriptor);

// What a name holds, looked at without following a link. A regular file
// with more than one link is told apart: writing it changes the file under
// its other names too.
enum class NameKind {
  Nothing,
  PlainFile,
  Directory,
  SymbolicLink,
  NamedPipe,
  Socket,
  Device,
  LinkedFile,
  OtherSpecialFile,
};
NameKind KindOfName(const char* path);
// Removes the name itself, never what a link points at; false when it stays.
bool RemoveName(const char* path);

// Which file a name leads to: equal identities are the same file. A file's
// number on its device takes 128 bits on Windows' ReFS, 64 elsewhere (the
// second word then 0).
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file[2] = {0, 0};
  bool operator==(const FileIdentity& other) const {
    return device == other.device && file[0] == other.file[0] && file[1] == other.file[1];
  }
};
// Creates `path` as a new empty file and takes its identity; a name already
// taken, by anything, is never opened.
enum class Creation { Created, NameTaken, Failed };
Creation CreateNewFile(const char* path, FileIdentity& identity);
// The identity of what `path` names itself (a link is not followed); false
// when nothing can be found there.
bool IdentityOfName(const char* path, FileIdentity& identity);
// The identity of the file an open handle (Windows) or descriptor (elsewhere)
// leads to.
bool IdentityOfOpenFile(std::intptr_t handle, FileIdentity& identity);

// A hold on a file name that lasts while the process does: an exclusive lock
// on a file at the name, which the system drops however the process ends, so
// a hold left by a process that crashed is free to take. Locks are seen
// across nodes on file systems that share them (NFS does).
struct HeldFile {
  std::intptr_t handle = -1;
};
enum class Hold { Taken, HeldByAnother, Failed };
// Creates the file if missing and locks it without waiting; once taken,
// `holder` is written into it for whoever finds it held. Failed when the
// file cannot be created or opened (an unwritable directory).
Hold HoldFileAt(const char* path, const std::string& holder, HeldFile& held);
// What the holder of the file at `path` wrote there; empty when unreadable.
std::string HolderOfFileAt(const char* path);
// Removes the name, then drops the hold: nothing is left, and whoever opened
// the file meanwhile sees that the name no longer leads to it.
void ReleaseFileAt(const char* path, HeldFile& held);

// Termination requests: SIGTERM, SIGINT and SIGHUP, as launchers and batch
// systems send them before they kill, or on Windows the console's control
// events. From here on each calls `handler` with the request, in a signal
// handler or on a thread of the system's, so the handler may do only what a
// signal handler may. It either ends the process through EndAsRequested or
// returns, the request then put off until someone calls EndAsRequested. A
// request the process was started to ignore (nohup's SIGHUP) stays ignored.
using TerminationHandler = void (*)(int request);
void HandleTerminationRequests(TerminationHandler handler);
// The request as the report names it: "signal SIGTERM (15)", or on Windows
// "console event CTRL_C_EVENT". Safe in a handler.
const char* TerminationRequestName(int request);
// A process told to terminate removes `path` on its way out; nullptr stops
// that, once the name is no longer its.
void RemoveOnTermination(const char* path);
// Removes that name, then ends the process as the request would have ended
// it without a handler. Safe in a handler.
[[noreturn]] void EndAsRequested(int request);

// Descriptors a termination handler writes to: the console's, and one that
// appends to the file at `path`, or -1 unless that is still the file of
// identity `expected` (a name may have been replaced since).
int ConsoleDescriptor();
int OpenToAppend(const char* path, const FileIdentity& expected);
// Writes all `size` bytes, as far as the descriptor takes them. Safe in a
// handler.
void WriteAll(int descriptor, const char* bytes, std::size_t size);

// Whether two paths lead to the same file or directory, links followed: one
// directory may be reached by different paths on different nodes. False
// when either cannot be found.
bool SamePlace(const char* first, const char* second);

// The characters a file name may not hold besides control characters and the
// path separators: on Windows those it reserves, elsewhere none.
const char* CharactersNotAllowedInNames();

// A write beyond a file-size limit then fails like any other write instead of
// ending the process.
void IgnoreFileSizeLimitSignal();

// This process's identifier, as the system's tools show it.
long ProcessId();
// Whether a process of that identifier runs on this machine now, as far as
// this process can see (another user's counts). Identifiers are reused, so
// true may name a newcomer; false is sure.
bool ProcessRuns(long id);

// The process's current working directory, or an empty text when it cannot
// be determined.
std::string CurrentDirectory();
// The name the shell, and so the MPI launcher, gave the current directory:
// it may pass through links that CurrentDirectory resolves, and so name the
// directory the launcher asked other nodes for. Empty when there is none or
// it leads elsewhere.
std::string CurrentDirectoryAsNamed();
char PathSeparator();

// The size of a memory page here: 4 KiB on most PCs, 16 KiB on Apple's
// arm64 machines, 64 KiB on some other arm64 systems.
std::size_t PageSizeOfSystem();
// A block of `size` bytes starting on a page boundary: copies from the page
// cache into such a block run at full speed. A size of 0 gives a valid block.
char* AllocatePageAlignedBlock(std::int64_t size);
void ReleasePageAlignedBlock(char* block);
