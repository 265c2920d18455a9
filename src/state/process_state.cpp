#include "state/process_state.h"

// One translation unit, so the streams are constructed in this order.
std::ofstream ResultsFile;
std::ofstream HandlingWriteStream;
std::ifstream HandlingReadStream;
std::ofstream LowWriteStream;
std::ifstream LowReadStream;
std::ifstream HighReadStream;
std::ofstream HighWriteStream;

char DateText[kDateTextSize] = {};
char ResultsFileNameBuffer[kResultsFileNameSize] = {};

SingleNodeResult SingleNodeResults[kPhaseCount];
char LastReadByte = 0;
std::int64_t LowSecondPassCount = 0;
std::int64_t HighBlockSize = 0;
char* HighBlock = nullptr;
