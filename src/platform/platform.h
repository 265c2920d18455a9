// The few operating-system calls the benchmark makes beyond the standard
// library. Everything that differs between Windows and POSIX lives here.
#pragma once

#include <cstdint>
#include <string>

// Creates the file if missing, opens it for reading and writing, no sharing
// restriction; returns the descriptor, or -1 when the open failed.
int OpenDescriptor(const char* path);
// Returns false when the close failed.
bool CloseDescriptor(int descriptor);

// When `path` is a symbolic link, removes the link itself, never what it
// points at; anything else at `path` is left as it is.
enum class LinkRemoval { NoLink, Removed, CannotRemove };
LinkRemoval RemoveSymbolicLink(const char* path);

// The process's current working directory, or an empty text when it cannot
// be determined.
std::string CurrentDirectory();
char PathSeparator();

// A block of `size` bytes starting on a page boundary: copies from the page
// cache into such a block run at full speed. A size of 0 gives a valid block.
char* AllocatePageAlignedBlock(std::int64_t size);
void ReleasePageAlignedBlock(char* block);
