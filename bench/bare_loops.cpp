// The six single-node measurements of orvantic-drives with nothing around
// them: the same stream and descriptor calls in the same order, on the same
// file names in the current directory, timed with the same clock. Whatever
// the program's rate falls short of this one is the program's own overhead.
//
//   bare-loops            the stream and descriptor calls the program makes
//   bare-loops --raw      the same work through open/read/write/close/unlink
//   bare-loops --new-block   as the first, the high read into `new char[]`
//                            instead of a page-aligned block
//   --high-only           skip to the high read and write; the scratch file
//                         is first written in one go, untimed
//   --touched-block       (with --raw) the high read's block is allocated and
//                         written to before the clock starts, as tools that
//                         reuse one buffer have it: only the reads are timed
//   --without-mpi         do not start MPI; time with steady_clock. The
//                         process then has one thread: MPI_Init starts
//                         threads of its own, and with a second thread every
//                         read and write pays for a shared descriptor table
//
// Prints one line per measurement: name, seconds, rate per second, and the
// rate in the units the program's report uses.
#include <fcntl.h>
#include <mpi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "state/work_counts.h"

namespace {

const char* const kScratchName = "data64-windows-mx-single.tmp";
const char* const kCopyName = "data64-windows-mx-single";

bool UseMpi = true;

// Process-wide like the program's: no measurement constructs a stream.
std::ofstream HandlingWrite;
std::ifstream HandlingRead;
std::ofstream LowWrite;
std::ifstream LowRead;
std::ifstream HighRead;
std::ofstream HighWrite;
char LastByte = 0;
std::int64_t BlockSize = 0;
char* Block = nullptr;
int LowWriteDescriptor = -1;

double Now() {
  if (UseMpi) return MPI_Wtime();
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void Print(const char* name, double seconds, double work, bool perFile) {
  const double rate = work / seconds;
  if (perFile) {
    std::printf("%-20s %.9f %.6f %g Files/sec.\n", name, seconds, rate, rate);
  } else {
    std::printf("%-20s %.9f %.6f %g Millions Accesses/sec. %g MB/sec.\n", name, seconds, rate,
                rate / 1000000, rate / 1048576);
  }
  std::fflush(stdout);
}

char* PageAlignedBlock(std::int64_t size) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t bytes = size > 0 ? static_cast<std::size_t>(size) : 0;
  return static_cast<char*>(std::aligned_alloc(page, (bytes / page + 1) * page));
}

// ---- through streams and descriptors, as the program does --------------

void StreamHandling() {
  const double start = Now();
  for (long i = 0; i < kHandlingIterations; ++i) {
    HandlingWrite.open(kScratchName, std::ios::out | std::ios::binary);
    HandlingRead.open(kScratchName, std::ios::in | std::ios::binary);
    HandlingRead.close();
    HandlingWrite.close();
    std::remove(kScratchName);
  }
  Print("stream-handling", Now() - start, kHandlingIterations, true);
}

void DescriptorHandling() {
  const double start = Now();
  for (long i = 0; i < kHandlingIterations; ++i) {
    const int descriptor = open(kScratchName, O_CREAT | O_RDWR, 0777);
    if (descriptor != -1) close(descriptor);
    std::remove(kScratchName);
  }
  Print("descriptor-handling", Now() - start, kHandlingIterations, true);
}

void LowWriteStream() {
  const double start = Now();
  LowWrite.open(kScratchName, std::ios::out | std::ios::binary);
  for (std::int64_t i = 0; i < kLowFirstPass; ++i) {
    LowWrite.put(kLowByte);
    LowWrite.flush();
  }
  LowWrite.seekp(0);
  LowWrite.seekp(kLowSecondPass);
  for (std::int64_t i = 0; i < kLowSecondPass; ++i) {
    LowWrite.put(kLowByte);
    LowWrite.flush();
  }
  Print("low-write", Now() - start, kLowAccesses, false);
}

void LowReadStream() {
  const double start = Now();
  LowRead.open(kScratchName, std::ios::in | std::ios::binary);
  LowRead.seekg(0);
  while (LowRead.good()) {
    LowRead.get(LastByte);
    LowRead.sync();
  }
  LowRead.clear();
  LowRead.seekg(0);
  LowRead.seekg(kLowSecondPass);
  for (std::int64_t i = 0; i < kLowSecondPass; ++i) {
    LowRead.get(LastByte);
    LowRead.sync();
  }
  Print("low-read", Now() - start, kLowAccesses, false);
  LowRead.close();
}

void HighReadStream(bool newBlock) {
  const double start = Now();
  HighRead.open(kScratchName, std::ios::in | std::ios::binary);
  HighRead.seekg(0, std::ios::end);
  BlockSize = HighRead.tellg();
  HighRead.seekg(0);
  Block = newBlock ? new char[BlockSize] : PageAlignedBlock(BlockSize);
  HighRead.read(Block, BlockSize);
  HighRead.sync();
  HighRead.seekg(BlockSize / 2);
  HighRead.read(Block, BlockSize / 2);
  HighRead.sync();
  Print(newBlock ? "high-read-new-block" : "high-read", Now() - start, BlockSize * 1.5, false);
}

void HighWriteStream() {
  const double start = Now();
  HighWrite.open(kCopyName, std::ios::out | std::ios::binary);
  HighWrite.seekp(0);
  HighWrite.write(Block, BlockSize);
  HighWrite.flush();
  HighWrite.seekp(BlockSize / 2);
  HighWrite.write(Block, BlockSize / 2);
  HighWrite.flush();
  Print("high-write", Now() - start, BlockSize * 1.5, false);
  HighRead.close();
  HighWrite.close();
  LowWrite.close();
}

// ---- the same work through raw system calls -----------------------------

void RawHandling() {
  const double start = Now();
  for (long i = 0; i < kHandlingIterations; ++i) {
    const int writing = open(kScratchName, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int reading = open(kScratchName, O_RDONLY);
    if (reading != -1) close(reading);
    if (writing != -1) close(writing);
    unlink(kScratchName);
  }
  Print("stream-handling", Now() - start, kHandlingIterations, true);
}

void RawDescriptorHandling() {
  const double start = Now();
  for (long i = 0; i < kHandlingIterations; ++i) {
    const int descriptor = open(kScratchName, O_CREAT | O_RDWR, 0777);
    if (descriptor != -1) close(descriptor);
    unlink(kScratchName);
  }
  Print("descriptor-handling", Now() - start, kHandlingIterations, true);
}

void RawLowWrite() {
  const char byte = kLowByte;
  const double start = Now();
  LowWriteDescriptor = open(kScratchName, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  for (std::int64_t i = 0; i < kLowFirstPass; ++i) {
    if (write(LowWriteDescriptor, &byte, 1) != 1) break;
  }
  lseek(LowWriteDescriptor, kLowSecondPass, SEEK_SET);
  for (std::int64_t i = 0; i < kLowSecondPass; ++i) {
    if (write(LowWriteDescriptor, &byte, 1) != 1) break;
  }
  Print("low-write", Now() - start, kLowAccesses, false);
}

void RawLowRead() {
  const double start = Now();
  const int descriptor = open(kScratchName, O_RDONLY);
  while (read(descriptor, &LastByte, 1) == 1) {
  }
  lseek(descriptor, kLowSecondPass, SEEK_SET);
  for (std::int64_t i = 0; i < kLowSecondPass; ++i) {
    if (read(descriptor, &LastByte, 1) != 1) break;
  }
  Print("low-read", Now() - start, kLowAccesses, false);
  close(descriptor);
}

// A regular file gives each transfer whole in one call; the loops only
// guard against a short one.
void ReadAt(int descriptor, char* block, std::int64_t count, std::int64_t offset) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t moved = pread(descriptor, block + done, count - done, offset + done);
    if (moved <= 0) return;
    done += moved;
  }
}

void WriteAt(int descriptor, const char* block, std::int64_t count, std::int64_t offset) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t moved = pwrite(descriptor, block + done, count - done, offset + done);
    if (moved <= 0) return;
    done += moved;
  }
}

std::int64_t FileSize(int descriptor) {
  struct stat status;
  return fstat(descriptor, &status) == 0 ? status.st_size : 0;
}

// The program allocates its block inside the timed span, so the first touch
// of each of its pages is charged to the read; with `touched` that cost is
// paid before the clock starts, which leaves the copy from the page cache.
int RawHighRead(bool touched) {
  if (touched) {
    const int descriptor = open(kScratchName, O_RDONLY);
    BlockSize = FileSize(descriptor);
    close(descriptor);
    Block = PageAlignedBlock(BlockSize);
    std::memset(Block, 0, static_cast<std::size_t>(BlockSize));
  }
  const double start = Now();
  const int descriptor = open(kScratchName, O_RDONLY);
  if (!touched) {
    BlockSize = FileSize(descriptor);
    Block = PageAlignedBlock(BlockSize);
  }
  ReadAt(descriptor, Block, BlockSize, 0);
  ReadAt(descriptor, Block, BlockSize / 2, BlockSize / 2);
  Print(touched ? "high-read-touched-block" : "high-read", Now() - start, BlockSize * 1.5, false);
  return descriptor;
}

void RawHighWrite(int readDescriptor) {
  const double start = Now();
  const int descriptor = open(kCopyName, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  WriteAt(descriptor, Block, BlockSize, 0);
  WriteAt(descriptor, Block, BlockSize / 2, BlockSize / 2);
  Print("high-write", Now() - start, BlockSize * 1.5, false);
  close(readDescriptor);
  close(descriptor);
  close(LowWriteDescriptor);
}

// What the low write leaves for the high read, made without the 25 million
// single-byte writes and without a large allocation that could hand the
// high read's block pages already touched.
void PrepareScratchFile() {
  static char chunk[65536];
  std::memset(chunk, kLowByte, sizeof chunk);
  const int descriptor = open(kScratchName, O_WRONLY | O_CREAT | O_TRUNC, 0666);
  for (std::int64_t done = 0; done < kLowFirstPass; done += sizeof chunk) {
    WriteAt(descriptor, chunk, sizeof chunk, done);
  }
  close(descriptor);
}

// A bare loop that silently did less work would flatter the program: both
// files must hold every byte, each 0x0B.
bool Filled(const char* name) {
  std::ifstream file(name, std::ios::in | std::ios::binary);
  std::int64_t length = 0;
  char chunk[65536];
  while (file) {
    file.read(chunk, sizeof chunk);
    for (std::streamsize i = 0; i < file.gcount(); ++i) {
      if (chunk[i] != kLowByte) return false;
    }
    length += file.gcount();
  }
  if (length != kLowFirstPass) {
    std::fprintf(stderr, "bare-loops: %s holds %lld bytes, not %lld\n", name,
                 static_cast<long long>(length), static_cast<long long>(kLowFirstPass));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool raw = false;
  bool newBlock = false;
  bool highOnly = false;
  bool touched = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--raw") == 0) {
      raw = true;
    } else if (std::strcmp(argv[i], "--new-block") == 0) {
      newBlock = true;
    } else if (std::strcmp(argv[i], "--high-only") == 0) {
      highOnly = true;
    } else if (std::strcmp(argv[i], "--touched-block") == 0) {
      touched = true;
    } else if (std::strcmp(argv[i], "--without-mpi") == 0) {
      UseMpi = false;
    } else {
      std::fprintf(stderr,
                   "usage: bare-loops [--raw [--touched-block] | --new-block] [--high-only]"
                   " [--without-mpi]\n");
      return 2;
    }
  }
  if (touched && !raw) {
    std::fprintf(stderr, "bare-loops: --touched-block goes with --raw\n");
    return 2;
  }
  if (UseMpi) {
    int provided = 0;
    MPI_Init_thread(&argc, &argv, MPI_THREAD_MULTIPLE, &provided);
  }
  if (highOnly) {
    PrepareScratchFile();
  } else if (raw) {
    RawHandling();
    RawDescriptorHandling();
    RawLowWrite();
    RawLowRead();
  } else {
    StreamHandling();
    DescriptorHandling();
    LowWriteStream();
    LowReadStream();
  }
  if (raw) {
    RawHighWrite(RawHighRead(touched));
  } else {
    HighReadStream(newBlock);
    HighWriteStream();
  }
  const bool sound = Filled(kScratchName) && Filled(kCopyName);
  if (!sound) std::fprintf(stderr, "bare-loops: the scratch files are not as the work leaves them\n");
  if (UseMpi) MPI_Finalize();
  return sound ? 0 : 1;
}
