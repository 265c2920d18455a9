#include "state/rank_state.h"

std::ofstream* const RankHandlingWriteStreams = new std::ofstream[kMaxRanks];
std::ifstream* const RankHandlingReadStreams = new std::ifstream[kMaxRanks];
std::ofstream* const RankLowWriteStreams = new std::ofstream[kMaxRanks];
std::ifstream* const RankLowReadStreams = new std::ifstream[kMaxRanks];
std::ifstream* const RankHighReadStreams = new std::ifstream[kMaxRanks];
std::ofstream* const RankHighWriteStreams = new std::ofstream[kMaxRanks];

RankPhaseTables RankPhases[kPhaseCount];
int RankNumberTable[kMaxRanks];
int RankDescriptorTable[kMaxRanks];
std::int64_t RankLengthTable[kMaxRanks];
char* RankBlockTable[kMaxRanks];

char RankHandlingStreamName[kScratchNameSize];
char RankHandlingDescriptorName[kScratchNameSize];
char RankScratchNameBuffer[kScratchNameSize];
char RankCopyNameBuffer[kScratchNameSize];

std::vector<std::string> RootStartDirectories;
std::string OwnPlaceWarning;

double ReceivedRateTable[kMaxRanks];
double ReceivedTimeTable[kMaxRanks];
int ReceivedRankTable[kMaxRanks];
std::string ReceivedPlaceWarnings[kMaxRanks];
char ReceivedNodeName[MPI_MAX_PROCESSOR_NAME];
MPI_Status ReceiveStatus;
