#pragma once
// A download of more than one segment written in place (the lean transfer): every segment goes
// straight to its own offset of one file, "<file>.part", and "<file>.part.record" says how much
// of each segment is written. The record names the object and its length, so it is never applied
// to another file, and it is raised only after the bytes it counts were handed to the system, so
// a run that is killed resumes each segment from no more than it holds. The object's digest,
// checked once the file is whole, has the last word either way.

#include "net/http_get.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

std::string InPlaceFileName(const std::string& strWriteFileName);
std::string SegmentRecordName(const std::string& strWriteFileName);

// Keeps the record and the file of an earlier attempt when the record is of this object, with
// this length and segment count; otherwise starts both afresh. False after a log line when they
// cannot be made.
bool PrepareSegmentRecord(const std::string& strWriteFileName, const std::string& objectName,
                          std::int64_t length, int count);
// What the record of `strWriteFileName` says is written of `segment` (0 when it says nothing
// sound: another object, a count past the segment or past the file's end).
std::int64_t RecordedBytes(const HttpSegment& segment);
// The bytes the record holds for all the segments of the object, for the room check.
std::int64_t RecordedBytesOfObject(const std::string& strWriteFileName,
                                   const std::string& objectName, std::int64_t length);

// A run that is killed fetches again at most this much of each segment: the record follows the
// bytes written every megabyte (2 to this power).
constexpr int kRecordEveryShift = 20;
// Hands what was written to the system and raises the segment's count to it; false, with nothing
// logged and the count left as it was, when the bytes could not be written.
bool RecordWritten(HttpSegment& segment, std::FILE* file);
