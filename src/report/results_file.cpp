#include "report/results_file.h"

#include <cstdio>

#include "platform/platform.h"
#include "state/process_state.h"
#include "state/run_identity.h"

void FormatResultsFileName(const char* node, const std::tm& localTime) {
  if (std::strftime(DateText, sizeof DateText, "local date %Y.%m.%d time %H.%M.%S.txt",
                    &localTime) == 0) {
    DateText[0] = '\0';  // contents are undefined when the text did not fit
  }
  std::snprintf(ResultsFileNameBuffer, sizeof ResultsFileNameBuffer,
                "results_drives_windows_clusters_mac_mx @ %s @ %s", node, DateText);
}

void ResultsFileName() {
  const std::time_t now = std::time(nullptr);
  std::tm localTime{};
  if (const std::tm* converted = std::localtime(&now)) localTime = *converted;
  FormatResultsFileName(NodeName, localTime);
}

void OpenResultsFile() { ResultsFile.open(ResultsFileNameBuffer, std::ios::out); }

bool CloseResultsFile() {
  const bool written = ResultsFile.is_open() && ResultsFile.good();
  ResultsFile.close();
  return written && !ResultsFile.fail();
}

std::string JoinPath(const std::string& directory, const char* name, char separator) {
  return directory + separator + name;
}

std::string ResultsFilePath() {
  const std::string directory = StartDirectory.empty() ? "<unknown directory>" : StartDirectory;
  return JoinPath(directory, ResultsFileNameBuffer, PathSeparator());
}
