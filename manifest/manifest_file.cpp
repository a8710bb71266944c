#include "manifest/manifest_file.h"

#include "manifest/chunk_list.h"
#include "manifest/digest_text.h"
#include "manifest/md5.h"
#include "net/incoming_folder.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/paths.h"

#include <cstdint>
#include <cstdio>
#include <map>

const std::string strManifestUrl = "microclient/download/launcher_manifest.js";
const std::string strManifestUrlX64 = "microclient/download/launcher_manifest_x64.js";

namespace {

enum class LineEnd { Newline, EndOfFile, TooLong };

// Reads the manifest's bytes one line at a time. A CR right before an LF is dropped here, so a
// manifest with CR LF line ends reads the same on every system; the bytes are the file's own, read
// in binary (a text-mode stream on Windows reports wrong positions for bare LF line ends).
class LineReader {
  public:
    explicit LineReader(const std::string& bytes) : bytes_(bytes) {}

    // Up to kManifestLineLimit characters; the line end is consumed, not stored. A longer line
    // is consumed through its line end and reported as TooLong with its first characters.
    LineEnd Next(std::string& line) {
        line.clear();
        for (;;) {
            if (pos_ == bytes_.size())
                return LineEnd::EndOfFile;
            char c = bytes_[pos_++];
            if (c == '\n' || (c == '\r' && TakeNewline()))
                return LineEnd::Newline;
            if (line.size() == static_cast<std::size_t>(kManifestLineLimit)) {
                SkipRestOfLine();
                return LineEnd::TooLong;
            }
            line.push_back(c);
        }
    }

    // Bytes taken so far, line ends included.
    std::size_t Consumed() const { return pos_; }

  private:
    bool TakeNewline() {
        if (pos_ < bytes_.size() && bytes_[pos_] == '\n') {
            ++pos_;
            return true;
        }
        return false;
    }

    void SkipRestOfLine() {
        std::size_t newline = bytes_.find('\n', pos_);
        pos_ = newline == std::string::npos ? bytes_.size() : newline + 1;
    }

    const std::string& bytes_;
    std::size_t pos_ = 0;
};

// The whole of an open file; false when reading fails, with what was read before in `bytes`.
bool ReadAll(std::FILE* file, std::string& bytes) {
    char piece[4096];
    for (;;) {
        std::size_t got = std::fread(piece, 1, sizeof piece, file);
        bytes.append(piece, got);
        if (got < sizeof piece)
            return std::ferror(file) == 0;
    }
}

struct ManifestLine {
    std::string url;
    std::string relativePath;
    std::string md5;
    std::int64_t objectSize = -1;
    std::string chunkListUrl;
};

// The object's size, when the fourth field is nothing but a decimal number an installer can
// fetch; anything else there is ignored, as every field after the third always was.
std::int64_t ListedSize(const std::string& field) {
    constexpr std::size_t kMostDigits = 15; // far beyond any object, far within 64 bits
    if (field.empty() || field.size() > kMostDigits ||
        field.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::stoll(field);
}

// A chunk list's URL path: its last component is the list's digest, and its chunks can be named
// beside it. Anything else in that field is ignored, as fields after the third always were.
bool IsChunkListUrl(const std::string& url) {
    const std::string digest = url.substr(url.rfind('/') + 1);
    return IsLowerMd5(digest) && !ChunkUrl(url, digest).empty() && IsSafeRelativePath(url);
}

// Tabs only; runs of tabs are one separator, leading tabs are skipped. The object's size may
// follow as a fourth field, and after it the URL path of the file's chunk list; anything after
// that is ignored. Blanks belong to the fields.
bool SplitLine(const std::string& line, ManifestLine& fields) {
    std::string size, chunkList;
    std::string* targets[] = {&fields.url, &fields.relativePath, &fields.md5, &size, &chunkList};
    std::size_t pos = 0;
    for (std::string* target : targets) {
        pos = line.find_first_not_of('\t', pos);
        if (pos == std::string::npos)
            break;
        std::size_t end = line.find('\t', pos);
        target->assign(line, pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end;
    }
    if (fields.md5.empty())
        return false;
    fields.objectSize = ListedSize(size);
    if (fields.objectSize >= 0 && IsChunkListUrl(chunkList))
        fields.chunkListUrl = chunkList;
    return true;
}

// A name for a file in the incoming folder: one plain component. Downloads are stored under the
// object's name and found, once unpacked, under the manifest's digest.
bool IsSafeIncomingName(const std::string& name) {
    return !name.empty() && name != "." && name.find_first_of("/\\") == std::string::npos &&
           IsSafeRelativePath(name);
}

// The size header's number as the C library's atoi reads it, except that a number too large for
// any manifest saturates instead of overflowing.
std::int64_t ParseCount(const std::string& text) {
    std::size_t pos = text.find_first_not_of(" \t\n\v\f\r");
    if (pos == std::string::npos)
        return 0;
    bool negative = false;
    if (text[pos] == '+' || text[pos] == '-')
        negative = text[pos++] == '-';
    constexpr std::int64_t kCap = std::int64_t(1) << 48;
    std::int64_t value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
        value = value < kCap ? value * 10 + (text[pos] - '0') : kCap;
    return negative ? -value : value;
}

// A digest followed by blanks names the same object as the digest alone; anything else is kept
// as written.
std::string TrimmedDigest(const std::string& text) {
    std::string trimmed = text.substr(0, text.find_last_not_of(' ') + 1);
    bool digest = trimmed.size() == 32 &&
                  trimmed.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
    return digest ? trimmed : text;
}

// A line is handled as the C string it was in the fixed line buffer: a zero byte ends it. This
// also keeps a zero byte from hiding a "..", since file names end at the first zero byte.
void CutAtZero(std::string& line) {
    std::size_t zero = line.find('\0');
    if (zero != std::string::npos)
        line.resize(zero);
}

} // namespace

FileEntry MakeFileEntry(std::string urlPath, const std::string& installDir) {
    FileEntry entry;
    std::size_t slash = urlPath.rfind('/');
    entry.strName = slash == std::string::npos ? urlPath : urlPath.substr(slash + 1);
    entry.strIncomingPath = IncomingPath(installDir, entry.strName);
    entry.strObjectMd5 = entry.strName;
    entry.strRelativePath = entry.strName;
    entry.strTargetPath = installDir + "/" + entry.strName;
    entry.strUrl = std::move(urlPath);
    return entry;
}

namespace {

// Why a manifest line cannot be installed as it stands.
ManifestRefusal RefusalOf(const ManifestLine& fields, const FileEntry& entry,
                          const std::string& manifestName,
                          std::map<std::string, std::string>& digestOfPath) {
    // The manifest comes over the network: nothing it lists may be written outside the install
    // folder or outside the incoming folder.
    if (!IsSafeRelativePath(fields.relativePath))
        return ManifestRefusal::LeavesFolder;
    std::string key = InstallPathKey(fields.relativePath);
    if (key.empty() || IsReservedPath(fields.relativePath, manifestName))
        return ManifestRefusal::InstallersOwn;
    if (!IsSafeIncomingName(entry.strName) || !IsSafeIncomingName(fields.md5))
        return ManifestRefusal::NotPlainName;
    if (IsReservedIncomingName(entry.strName) || IsReservedIncomingName(fields.md5))
        return ManifestRefusal::IncomingNameIsOwn;
    // Windows drops trailing dots and blanks and ignores letter case: a digest that differs from
    // the object's name only so would name the download itself as the unpacked file.
    if (entry.strManifestMd5 != entry.strObjectMd5 &&
        InstallPathKey(entry.strManifestMd5) == InstallPathKey(entry.strObjectMd5))
        return ManifestRefusal::DigestNamesDownload;
    // One file cannot have two contents: every run would install the other one.
    auto seen = digestOfPath.emplace(key, entry.strManifestMd5);
    if (!seen.second && seen.first->second != entry.strManifestMd5)
        return ManifestRefusal::TwoDigests;
    return ManifestRefusal::None;
}

// The entry a line of three fields stands for, refused or not.
FileEntry EntryOf(const ManifestLine& fields, const std::string& installDir) {
    FileEntry entry = MakeFileEntry(fields.url, installDir);
    // Digests are compared as lower-case text everywhere: the object's name is also its file
    // name in the incoming folder, where an unpacked file is found by its digest.
    if (NormalDigest(entry.strName) != entry.strName) {
        entry.strName = NormalDigest(entry.strName);
        entry.strObjectMd5 = entry.strName;
        entry.strIncomingPath = IncomingPath(installDir, entry.strName);
    }
    entry.strRelativePath = fields.relativePath;
    entry.strTargetPath = installDir + "/" + platform::FileNameFromManifest(fields.relativePath);
    entry.strManifestMd5 = NormalDigest(TrimmedDigest(fields.md5));
    entry.nListedSize = fields.objectSize;
    entry.strChunkListUrl = fields.chunkListUrl;
    entry.checkFun = CheckObjectMd5;
    return entry;
}

} // namespace

ManifestReading ParseManifest(const std::string& bytes, const std::string& installDir,
                              const std::string& manifestName, RefusedLines refused) {
    ManifestReading reading;
    std::map<std::string, std::string> digestOfPath;
    LineReader reader(bytes);
    std::string line;
    auto refuse = [&](ManifestRefusal refusal) {
        if (reading.refusal == ManifestRefusal::None) {
            reading.refusal = refusal;
            reading.refusedLine = line;
        }
        return refused == RefusedLines::Stop;
    };
    for (;;) {
        LineEnd end = reader.Next(line);
        CutAtZero(line);
        if (end == LineEnd::TooLong) {
            // A comment may be as long as it likes. An entry cut short would install a file
            // under a shortened path or digest, so the manifest cannot be used.
            if ((line.empty() || line[0] != '#') && refuse(ManifestRefusal::LineTooLong))
                break;
            continue;
        }
        if (line.empty())
            break;
        if (line[0] != '#') {
            ManifestLine fields;
            if (!SplitLine(line, fields)) {
                if (refuse(ManifestRefusal::NotThreeFields))
                    break;
            } else {
                FileEntry entry = EntryOf(fields, installDir);
                ManifestRefusal refusal = RefusalOf(fields, entry, manifestName, digestOfPath);
                if (refusal == ManifestRefusal::None)
                    reading.entries.push_back(entry);
                else if (refuse(refusal))
                    break;
            }
        }
        if (end == LineEnd::EndOfFile)
            break;
    }
    return reading;
}

std::string RefusalLogLine(const ManifestReading& reading) {
    const char* line = reading.refusedLine.c_str();
    const char* reason = "";
    switch (reading.refusal) {
    case ManifestRefusal::None:
        return std::string();
    case ManifestRefusal::LineTooLong:
        return FormatString("manifest line longer than %d characters: %s", kManifestLineLimit,
                            line);
    case ManifestRefusal::NotThreeFields:
        return FormatString("manifest line without three fields: %s", line);
    case ManifestRefusal::LeavesFolder:
        reason = "the install path leaves the folder or names a device";
        break;
    case ManifestRefusal::InstallersOwn:
        reason = "the install path is the installer's own";
        break;
    case ManifestRefusal::NotPlainName:
        reason = "the object name or the digest is no plain file name";
        break;
    case ManifestRefusal::IncomingNameIsOwn:
        reason = "the object name or the digest is the installer's own";
        break;
    case ManifestRefusal::DigestNamesDownload:
        reason = "the digest names the download itself";
        break;
    case ManifestRefusal::TwoDigests:
        reason = "the install path is listed twice with different digests";
        break;
    }
    return FormatString("manifest line refused, %s: %s", reason, line);
}

namespace {

int ReadInto(const std::string& path, const std::string& installDir,
             std::vector<FileEntry>& entries, bool logRefusal) {
    entries.clear();
    std::FILE* file = platform::OpenShared(path, "rb");
    if (!file)
        return 107;
    std::string bytes;
    bool readWhole = ReadAll(file, bytes);
    std::fclose(file);

    ManifestReading reading = ParseManifest(bytes, installDir, PathComponents(path).back());
    entries = std::move(reading.entries);
    if (reading.refusal != ManifestRefusal::None) {
        if (logRefusal)
            WriteLog(RefusalLogLine(reading));
        return 105;
    }
    // A read error looks like the end of the file; the entries after it would be lost without
    // a word.
    return readWhole ? 0 : 106;
}

} // namespace

int ReadManifestFile(const std::string& path, const std::string& installDir,
                     std::vector<FileEntry>& entries) {
    return ReadInto(path, installDir, entries, true);
}

int ReadManifestFileSilently(const std::string& path, const std::string& installDir,
                             std::vector<FileEntry>& entries) {
    return ReadInto(path, installDir, entries, false);
}

namespace {

// The first bytes of a line in hexadecimal, for a log line about what stands there.
std::string LeadingBytes(const std::string& line) {
    std::string text;
    for (std::size_t i = 0; i < line.size() && i < 4; ++i)
        text += FormatString(i ? " %02X" : "%02X", static_cast<unsigned char>(line[i]));
    return text;
}

} // namespace

SizeHeaderVerdict JudgeSizeHeader(const std::string& bytes) {
    using Fault = SizeHeaderVerdict::Fault;
    SizeHeaderVerdict verdict;
    // An edge that compresses .js files sends gzip data however it is asked; no count in it
    // tells the cause, so the magic bytes are named.
    if (bytes.size() >= 2 && bytes[0] == '\x1f' && bytes[1] == '\x8b') {
        verdict.fault = Fault::Gzip;
        return verdict;
    }
    LineReader reader(bytes);
    LineEnd end = reader.Next(verdict.header);
    CutAtZero(verdict.header);
    const std::string& header = verdict.header;
    // A first line too long for the line buffer is no size header; its count would be taken
    // from its middle.
    if (end == LineEnd::TooLong || header.empty()) {
        if (header.find('\r') != std::string::npos)
            verdict.fault = Fault::CrAlone;
        else if (header.empty())
            verdict.fault = Fault::EmptyFirstLine;
        else
            verdict.fault = Fault::FirstLineTooLong;
        return verdict;
    }
    verdict.announced = ParseCount(header.substr(1));
    verdict.body = static_cast<std::int64_t>(bytes.size() - reader.Consumed());
    if (verdict.announced != verdict.body)
        verdict.fault = Fault::CountDiffers;
    return verdict;
}

bool CheckSizeHeader(FileEntry& entry) {
    using Fault = SizeHeaderVerdict::Fault;
    std::FILE* file = platform::OpenShared(entry.strIncomingPath, "rb");
    if (!file)
        return false;
    const char* name = entry.strName.c_str();
    std::string bytes;
    bool readWhole = ReadAll(file, bytes);
    std::fclose(file);
    if (!readWhole) {
        WriteLog(FormatString("size header of %s: the file cannot be read", name));
        return false;
    }
    SizeHeaderVerdict verdict = JudgeSizeHeader(bytes);
    const std::string& header = verdict.header;
    switch (verdict.fault) {
    case Fault::None:
        return true;
    case Fault::Gzip:
        WriteLog(FormatString("size header of %s: the server compressed the answer (gzip "
                              "data where the manifest belongs)",
                              name));
        return false;
    case Fault::CrAlone:
        WriteLog(FormatString("size header of %s: lines end in CR alone", name));
        return false;
    case Fault::EmptyFirstLine:
        WriteLog(FormatString("size header of %s: the first line is empty", name));
        return false;
    case Fault::FirstLineTooLong:
        WriteLog(FormatString("size header of %s: the first line is longer than %d characters",
                              name, kManifestLineLimit));
        return false;
    case Fault::CountDiffers:
        break;
    }
    // The count alone rarely tells why: a byte-order mark or another character where "#"
    // belongs, or CR line ends, explain a count that cannot be read.
    if (header[0] != '#')
        WriteLog(FormatString("size header of %s: %s where # should be", name,
                              LeadingBytes(header).c_str()));
    else if (header.find('\r') != std::string::npos)
        WriteLog(FormatString("size header of %s: lines end in CR alone", name));
    WriteLog(FormatString("size header of %s: announces %lld bytes, the body has %lld", name,
                          static_cast<long long>(verdict.announced),
                          static_cast<long long>(verdict.body)));
    return false;
}

bool CheckObjectMd5(FileEntry& entry) {
    std::string received = FileMd5(entry.strIncomingPath);
    if (SameDigest(received, entry.strObjectMd5))
        return true;
    WriteLog(FormatString("MD5 of the download differs, expected:%s, received:%s",
                          entry.strObjectMd5.c_str(), received.c_str()));
    return false;
}
