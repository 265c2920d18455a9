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

double StreamHandlingSeconds = 0.0, StreamHandlingRate = 0.0;
double DescriptorHandlingSeconds = 0.0, DescriptorHandlingRate = 0.0;
double LowWriteSeconds = 0.0, LowWriteRate = 0.0;
double LowReadSeconds = 0.0, LowReadRate = 0.0;
double HighReadSeconds = 0.0, HighReadRate = 0.0;
double HighWriteSeconds = 0.0, HighWriteRate = 0.0;
long long StreamHandlingFailed = 0, DescriptorHandlingFailed = 0;
long long LowWriteFailed = 0, LowReadFailed = 0, HighReadFailed = 0, HighWriteFailed = 0;
char LastReadByte = 0;
std::int64_t LowSecondPassCount = 0;
std::int64_t HighBlockSize = 0;
char* HighBlock = nullptr;
