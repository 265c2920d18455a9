#include "report/results_file.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "platform/platform.h"
#include "report/name_notes.h"
#include "report/report_sink.h"
#include "report/stop_line.h"
#include "state/process_state.h"

void FormatResultsFileName(const char* node, const std::tm& localTime) {
  if (std::strftime(DateText, sizeof DateText, "local date %Y.%m.%d time %H.%M.%S.txt",
                    &localTime) == 0) {
    DateText[0] = '\0';  // contents are undefined when the text did not fit
  }
  std::snprintf(ResultsFileNameBuffer, sizeof ResultsFileNameBuffer,
                "results_drives_windows_clusters_mac_mx @ %s @ %s", node, DateText);
}

std::string NumberedName(const std::string& name, int number) {
  if (number < 2) return name;
  const std::string extension = ".txt";
  const bool hasExtension = name.size() >= extension.size() &&
                            name.compare(name.size() - extension.size(), std::string::npos,
                                         extension) == 0;
  const std::string stem = hasExtension ? name.substr(0, name.size() - extension.size()) : name;
  return stem + " (" + std::to_string(number) + ")" + extension;
}

namespace {

// Names tried before the run gives up on a results file of its own.
constexpr int kResultsFileNameTries = 100;

// The file this run created, so that the end of the run can tell whether its
// name still leads there.
FileIdentity CreatedResultsFile;

void SetResultsFileName(const std::string& name) {
  std::snprintf(ResultsFileNameBuffer, sizeof ResultsFileNameBuffer, "%s", name.c_str());
}

// Whether the name still leads to the file this run created, and not to a
// link or another file put there since.
bool NameLeadsToCreatedFile() {
  FileIdentity now;
  return IdentityOfName(ResultsFileNameBuffer, now) && now == CreatedResultsFile;
}

}  // namespace

void OpenResultsFile() {
  // Another run started in the same second on this node has the same name:
  // the file is created anew, never opened where it exists, so neither run
  // truncates or mixes into the other's report; a taken name gets a number.
  const std::string name = ResultsFileNameBuffer;
  for (int number = 1; number <= kResultsFileNameTries; ++number) {
    SetResultsFileName(NumberedName(name, number));
    // Never through anything planted at the name: it could lead anywhere.
    const char* claimed = ClaimFileName(Console(), ResultsFileNameBuffer);
    const Creation creation = CreateNewFile(claimed, CreatedResultsFile);
    if (creation == Creation::Created) {
      // Opened for update, as opening for output alone would truncate.
      ResultsFile.open(ResultsFileNameBuffer, std::ios::in | std::ios::out);
      ArmStopLine(ResultsFile.is_open() ? OpenToAppend(ResultsFileNameBuffer, CreatedResultsFile) : -1);
      return;
    }
    if (creation == Creation::Failed) break;
  }
  // No file: the end of the run names the one it meant to write, and a stop
  // line goes to the console alone.
  SetResultsFileName(name);
  ArmStopLine(-1);
}

bool ResultsFileStillAtItsPath(const std::string& startDirectory) {
  return NameLeadsToCreatedFile() && CurrentDirectory() == startDirectory;
}

namespace {

// The length of the file's whole lines: the offset just past its last
// newline, 0 when it has none, `size` when it cannot be read.
std::uintmax_t WholeLinesLength(std::ifstream& file, std::uintmax_t size) {
  char block[4096];
  for (std::uintmax_t end = size; end > 0;) {
    const std::uintmax_t start = end > sizeof block ? end - sizeof block : 0;
    const auto count = static_cast<std::streamsize>(end - start);
    file.seekg(static_cast<std::streamoff>(start));
    if (file.read(block, count).gcount() != count) return size;
    for (std::streamsize i = count; i-- > 0;) {
      if (block[i] == '\n') return start + static_cast<std::uintmax_t>(i) + 1;
    }
    end = start;
  }
  return 0;
}

}  // namespace

void TrimToWholeLines(const char* name) {
  namespace fs = std::filesystem;
  std::error_code error;
  // Never through a link: resizing would cut the file it leads to.
  if (!fs::is_regular_file(fs::symlink_status(name, error))) return;
  const std::uintmax_t size = fs::file_size(name, error);
  if (error) return;
  std::ifstream file(name, std::ios::in | std::ios::binary);
  const std::uintmax_t length = WholeLinesLength(file, size);
  if (length < size) fs::resize_file(name, length, error);
}

bool CloseResultsFile() {
  // The report is whole from here: a stop no longer cuts it.
  DisarmStopLine();
  const bool opened = ResultsFile.is_open();
  const bool written = opened && ResultsFile.good();
  ResultsFile.close();
  const bool saved = written && !ResultsFile.fail();
  // A full disk can take half a line before the write fails: cut it off so
  // that scripts reading the file see only whole lines. Only in the file
  // this run created, never in one put at its name since.
  if (opened && !saved && NameLeadsToCreatedFile()) TrimToWholeLines(ResultsFileNameBuffer);
  return saved;
}

std::string JoinPath(const std::string& directory, const char* name, char separator) {
  return directory + separator + name;
}
