#include "workloads/high_loops.h"

#include "platform/platform.h"
#include "report/line_shapes.h"

namespace {

long long ReadBlock(std::ifstream& stream, char* block, std::int64_t count) {
  stream.read(block, count);
  const long long failed = stream.gcount() != count;
  stream.sync();
  return failed;
}

long long WriteBlock(std::ofstream& stream, const char* block, std::int64_t count) {
  stream.write(block, count);
  stream.flush();
  return stream.fail();
}

}  // namespace

bool HoldsSizableFile(const char* name) { return KindOfName(name) == NameKind::PlainFile; }

long long ReadHighPasses(std::ostream& console, std::ifstream& stream, const char* name,
                         bool sizable, std::int64_t expectedSize, std::int64_t& size, char*& block,
                         std::int64_t divisor) {
  long long failed = 0;
  stream.open(name, std::ios::in | std::ios::binary);
  stream.seekg(0, std::ios::end);
  size = stream.tellg();
  if (size < 0 || !sizable) {
    TextLine(console, "Unable to open file");
    size = 0;
    ++failed;
  }
  // The rate counts the bytes found; a shorter file than the low write
  // leaves would pass for a measurement of less work than it stands for.
  if (size < expectedSize) failed += expectedSize - size;
  stream.seekg(0);
  block = AllocatePageAlignedBlock(size);
  if (block == nullptr) {  // out of memory: move nothing rather than crash
    size = 0;
    ++failed;
  }
  failed += ReadBlock(stream, block, size);
  const std::int64_t secondPass = size / divisor;
  stream.seekg(secondPass);
  failed += ReadBlock(stream, block, secondPass);
  return failed;
}

long long WriteHighPasses(std::ofstream& stream, const char* name, std::int64_t size,
                          const char* block, std::int64_t divisor, bool blockFilled) {
  stream.open(name, std::ios::out | std::ios::binary);
  long long failed = !stream.is_open() + !blockFilled;
  // A new file is at 0 already; the seek stays, as in the low loops, as a
  // call of the timed span that every rate so far has paid for.
  stream.seekp(0);
  failed += WriteBlock(stream, block, size);
  const std::int64_t secondPass = size / divisor;
  stream.seekp(secondPass);
  failed += WriteBlock(stream, block, secondPass);
  return failed;
}

