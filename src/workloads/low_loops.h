// Single-byte write and read passes, shared by the single-node low test and
// the worker phases 3 and 4. Pass 1 covers the whole file from offset 0;
// pass 2 covers `secondPassCount` bytes from offset `secondPassCount`. The
// count is stored in the caller's slot before use, where the caller keeps it.
// Each returns how many operations failed (0 on a sound run).
#pragma once

#include <cstdint>
#include <fstream>

// Every byte is flushed on its own: the per-access cost is what is measured.
long long WriteLowPasses(std::ofstream& stream, const char* name, std::int64_t& countSlot,
                         std::int64_t secondPassCount);
// Every read of one character is followed by the stream's sync. The stream is
// left open; the caller closes it where its timing wants it closed. A file
// that cannot be opened is the one failure said on `console`, at once.
long long ReadLowPasses(std::ostream& console, std::ifstream& stream, const char* name,
                        std::int64_t& countSlot, std::int64_t secondPassCount, char& lastByte);
