#include "workloads/low_loops.h"

#include "report/line_shapes.h"
#include "state/work_counts.h"

namespace {

long long PutFlushedBytes(std::ofstream& stream, std::int64_t count) {
  long long failed = 0;
  for (std::int64_t i = 0; i < count; ++i) {
    stream.put(kLowByte);
    stream.flush();
    failed += stream.fail();
  }
  return failed;
}

// Reads until a read delivers no byte (end of file or error); returns the
// number of bytes delivered.
std::int64_t ReadToEnd(std::ifstream& stream, char& lastByte) {
  std::int64_t delivered = 0;
  while (stream.good()) {
    delivered += !stream.get(lastByte).fail();
    stream.sync();
  }
  return delivered;
}

long long ReadCountedBytes(std::ifstream& stream, std::int64_t count, char& lastByte) {
  long long failed = 0;
  for (std::int64_t i = 0; i < count; ++i) {
    failed += stream.get(lastByte).fail();
    stream.sync();
  }
  return failed;
}

}  // namespace

long long WriteLowPasses(std::ofstream& stream, const char* name, std::int64_t& countSlot,
                         std::int64_t secondPassCount) {
  stream.open(name, std::ios::out | std::ios::binary);
  long long failed = !stream.is_open();
  failed += PutFlushedBytes(stream, kLowFirstPass);
  // The seek to 0 moves nothing the next seek does not, but it is a system
  // call inside the timed span: every rate of this test so far has paid for
  // it, and rates are compared across runs. tests/e2e/test_call_counts.py
  // holds the two seeks.
  stream.seekp(0);
  countSlot = secondPassCount;
  stream.seekp(countSlot);
  failed += PutFlushedBytes(stream, countSlot);
  return failed;
}

long long ReadLowPasses(std::ostream& console, std::ifstream& stream, const char* name,
                        std::int64_t& countSlot, std::int64_t secondPassCount, char& lastByte) {
  stream.open(name, std::ios::in | std::ios::binary);
  // This seek and the one to 0 before pass 2 move nothing, but as in the
  // write they are calls of the timed span that every rate so far has paid
  // for (tests/e2e/test_call_counts.py bounds the seeks).
  stream.seekg(0);
  long long failed = 0;
  if (stream.is_open()) {
    const std::int64_t delivered = ReadToEnd(stream, lastByte);
    // A file shorter than pass 1 means accesses charged to the rate never happened.
    if (delivered < kLowFirstPass) failed += kLowFirstPass - delivered;
  } else {
    TextLine(console, "Unable to open file");
    failed += 1 + kLowFirstPass;
  }
  stream.clear();
  stream.seekg(0);
  countSlot = secondPassCount;
  stream.seekg(countSlot);
  failed += ReadCountedBytes(stream, countSlot, lastByte);
  return failed;
}
