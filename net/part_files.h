#pragma once
// The part files of a download: their names, what an earlier attempt left in them, the room they
// need, and joining them into the destination.

#include "net/http_get.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Part files of one download that the installer's downloads (one connection, or three) can leave.
constexpr int kInstallerPartFiles = 3;

// The part file of segment `index` of the download into `strWriteFileName`: "<file>_<index>".
std::string PartFileName(const std::string& strWriteFileName, int index);

std::int64_t SegmentLength(const HttpSegment& segment);

// A failed stdio call, logged with the run-time library's error number and its text.
void LogStreamError(const std::string& text);
// A failed write to `path`, logged as LogStreamError does, but as a full disk when the volume
// has next to no room left and the run-time library's error number does not say so.
void LogWriteError(const std::string& text, const std::string& path);

// Where byte `intoSegment` of the segment goes in its part file (in the one file of a download
// written in place, at the segment's own offset).
std::int64_t FileOffset(const HttpSegment& segment, std::int64_t intoSegment);

// Closes a segment's part file once all its bytes are in and marks the segment done; false after
// a log line when the last bytes could not be written.
bool ClosePartFile(std::FILE* file, HttpSegment& segment);

// How much of the segment an earlier attempt left in the part file; 0 after throwing away a
// part that cannot belong to this segment. -1 when such a part cannot be cleared.
std::int64_t ExistingBytes(const HttpSegment& segment);
// Appends parts 1.. to part 0 and renames it to the destination; false after a log line.
bool JoinParts(const std::vector<HttpSegment>& segments, const std::string& strWriteFileName);
// The file written in place (net/segment_record) renamed to the destination, its record removed;
// false after a log line.
bool FinishInPlace(const std::string& strWriteFileName);

std::FILE* GetFilePointer(const std::string& path);
// Copies the segment's bytes from its part file into the output at the segment's offset; false
// (after a log line) when the part cannot be read whole or the copy cannot be written.
bool FileCombine(const HttpSegment& segment, std::FILE* output);
