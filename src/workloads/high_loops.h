// Whole-block read and write passes, shared by the single-node high test and
// the worker phases 5 and 6. Pass 1 moves the whole file in one call; pass 2
// moves size / divisor bytes at offset size / divisor in one call. Each
// returns how many operations failed (0 on a sound run).
#pragma once

#include <cstdint>
#include <fstream>

// Whether `name` holds a plain file, the one kind whose size is worth a
// block: a directory opens on some file systems and reports a nonsense size.
// Asked before the read's timed span, so that the span holds only the read.
bool HoldsSizableFile(const char* name);
// Takes the file's size, allocates `block` to hold it, and reads. A file that
// cannot be opened or sized, or is not `sizable`, gives size 0 and an empty
// block, never a negative or absurd allocation; "Unable to open file" on
// `console` says so. Each byte the file falls short of `expectedSize`
// counts as a failed operation. The stream is left open.
long long ReadHighPasses(std::ostream& console, std::ifstream& stream, const char* name,
                         bool sizable, std::int64_t expectedSize, std::int64_t& size,
                         char*& block, std::int64_t divisor);
// Creates or truncates `name` and writes `block` to it. The stream is left open.
// A block the read could not fill (`blockFilled` false) holds none of the
// file: writing it measures nothing, so that counts as one failure more.
long long WriteHighPasses(std::ofstream& stream, const char* name, std::int64_t size,
                          const char* block, std::int64_t divisor, bool blockFilled);
