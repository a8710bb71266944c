#pragma once
// The run's log, FeltoInstaller.log in the install folder: started afresh by the first entry of
// the process, every entry also copied to standard error.

#include "support/format.h"

#include <cstdio>
#include <ctime>
#include <string>

// Where the log goes once it is opened. Until set it is "FeltoInstaller.log" in the current
// folder. Read once, when the first entry opens the log.
void SetLogPath(const std::string& path);
const std::string& GetLogPath();

// Sends the whole run's log to standard error instead of a file, for a run that has no folder of
// its own to log into.
void UseStandardErrorForLog();

// Keeps entries out of standard error, for a tool that has its own output there and keeps the
// engine's story in the log file only.
void StopCopyingLogToStandardError();

std::string GetTimeStamp();
std::string MakeLogEntry(const char* format, ...) FELTO_PRINTF(1, 2);
std::FILE* GetLogStream();

void WriteLog(const char* text);
inline void WriteLog(const std::string& text) {
    WriteLog(text.c_str());
}
void WriteLogErrno(const char* text);
inline void WriteLogErrno(const std::string& text) {
    WriteLogErrno(text.c_str());
}
void WriteLogSocketError(const char* text);

// Writes one finished entry to a stream in one call; used by the error report too.
void WriteEntry(std::FILE* stream, const std::string& entry);

// Test support: forget the open log so that the next entry opens it again.
void ResetLogForTesting();
// Test support: the clock the timestamps are read from; nullptr for the system's.
using LocalClock = bool (*)(std::tm& out, int& error);
void SetClockForTesting(LocalClock clock);
