// Naming, opening and closing the results file, and the path shown at the
// end of the run. The name carries node, date and time so that runs on
// different nodes or at different times never overwrite each other's files.
#pragma once

#include <ctime>
#include <string>

// Fills DateText and ResultsFileNameBuffer from a node name and a local time.
void FormatResultsFileName(const char* node, const std::tm& localTime);
// The same for this process's node at the current local time.
void ResultsFileName();
// The name tried the `number`-th time: the name itself first, then with
// " (2)", " (3)"... before ".txt".
std::string NumberedName(const std::string& name, int number);
// Creates the file under the first of its numbered names that is free, and
// opens it; from here a stop ends the report with its stop line.
void OpenResultsFile();
// Cuts a file back to the end of its last whole line.
void TrimToWholeLines(const char* name);
// Disarms the stop line and closes the file; true only when it was opened and every line written to it
// reached the file, so the end of the run never claims a result not saved.
bool CloseResultsFile();
// True while the results file's name, in a current directory that is still
// at `startDirectory`, leads to the very file this run created: a directory
// renamed or removed during the run leaves the shown path without it.
bool ResultsFileStillAtItsPath(const std::string& startDirectory);
// Directory, separator, name; the directory is held whole however long.
std::string JoinPath(const std::string& directory, const char* name, char separator);
std::string ResultsFilePath();
