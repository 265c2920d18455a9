#include "workloads/handling_loops.h"

#include <cstdio>

#include "platform/platform.h"
#include "report/name_notes.h"

NameSource ClaimedNameSource(std::ostream& console, NameSource source) {
  return ClaimAndNote(console, source()).refused ? RefusedName : source;
}

long long HandleFilesWithStreams(std::ofstream& writeStream, std::ifstream& readStream,
                                 long iterations, NameSource nextName) {
  long long failed = 0;
  for (long i = 0; i < iterations; ++i) {
    const char* name = nextName();
    writeStream.open(name, std::ios::out | std::ios::binary);
    // The read open shares the file the write stream still holds.
    readStream.open(name, std::ios::in | std::ios::binary);
    const bool created = writeStream.is_open();
    failed += !created + !readStream.is_open();
    readStream.close();
    writeStream.close();
    // A file that was never created cannot be removed: that is not a new failure.
    if (std::remove(name) != 0 && created) ++failed;
  }
  return failed;
}

long long HandleFilesWithDescriptors(int& descriptor, long iterations, NameSource nextName) {
  long long failed = 0;
  for (long i = 0; i < iterations; ++i) {
    const char* name = nextName();
    descriptor = OpenDescriptor(name);
    const bool opened = descriptor != -1;
    if (!opened) {
      ++failed;  // nothing to close; the iteration still counts towards the rate
    } else if (!CloseDescriptor(descriptor)) {
      ++failed;
    }
    if (std::remove(name) != 0 && opened) ++failed;
  }
  return failed;
}
