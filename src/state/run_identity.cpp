#include "state/run_identity.h"

#include "platform/platform.h"

int ProvidedThreadLevel = 0;
int JobSize = 0;
int OwnRank = 0;
char NodeName[MPI_MAX_PROCESSOR_NAME] = {};
int NodeNameLength = 0;
std::string NodeFileName;
const std::string StartDirectory = CurrentDirectory();

bool IsRootRank() { return OwnRank == kRootRank; }
