// The results file's name and shown path for this process: they take its
// node name, the local time and the start directory.
#include "report/results_file.h"

#include <ctime>

#include "platform/platform.h"
#include "state/process_state.h"
#include "state/run_identity.h"

void ResultsFileName() {
  const std::time_t now = std::time(nullptr);
  std::tm localTime{};
  if (const std::tm* converted = std::localtime(&now)) localTime = *converted;
  FormatResultsFileName(NodeFileName.c_str(), localTime);
}

std::string ResultsFilePath() {
  const std::string directory = StartDirectory.empty() ? "<unknown directory>" : StartDirectory;
  return JoinPath(directory, ResultsFileNameBuffer, PathSeparator());
}
