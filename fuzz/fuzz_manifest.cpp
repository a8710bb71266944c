// The manifest as any server could send it: its size check, and a reading that either refuses it
// with an error code or yields entries that stay inside the install folder.

#include "fuzz/fuzz_support.h"
#include "manifest/manifest_file.h"
#include "platform/platform.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char kInstallDir[] = "D:\\Felto";

// The size check as the manifest format defines it: the first line (its line end is LF or
// CR LF, at most 509 characters, cut at a zero byte) is a character and the number of bytes
// that follow the line. gzip data (1F 8B) is never a manifest, whatever it seems to count.
bool ReferenceSizeHeader(const std::string& bytes) {
    if (bytes.compare(0, 2, "\x1f\x8b") == 0)
        return false;
    std::size_t newline = bytes.find('\n');
    std::string header = bytes.substr(0, newline);
    if (newline != std::string::npos && !header.empty() && header.back() == '\r')
        header.pop_back();
    if (header.size() > static_cast<std::size_t>(kManifestLineLimit))
        return false;
    header = header.substr(0, header.find('\0'));
    if (header.empty())
        return false;
    std::size_t bodyStart = newline == std::string::npos ? bytes.size() : newline + 1;
    long long announced = std::strtoll(header.c_str() + 1, nullptr, 10);
    return announced == static_cast<long long>(bytes.size() - bodyStart);
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// What may never be accepted as an install path: empty, rooted, on a drive, or with a component
// that climbs out ("..", and the dotted names Windows reads as "..").
bool StaysInside(const std::string& path) {
    if (path.empty() || IsSeparator(path[0]))
        return false;
    bool onDrive = path.size() >= 2 && path[1] == ':' &&
                   ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (onDrive)
        return false;
    std::string component;
    for (std::size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || IsSeparator(path[i])) {
            std::size_t dots = 0;
            bool onlyDotsAndBlanks = true;
            for (char c : component) {
                dots += c == '.';
                onlyDotsAndBlanks = onlyDotsAndBlanks && (c == '.' || c == ' ');
            }
            if (component == ".." || (onlyDotsAndBlanks && dots >= 2))
                return false;
            component.clear();
        } else {
            component.push_back(path[i]);
        }
    }
    return true;
}

bool HasLineBreakOrZero(const std::string& text) {
    return text.find_first_of(std::string("\n\0", 2)) != std::string::npos;
}

void CheckEntries(const std::string& bytes, const ManifestReading& reading) {
    const std::vector<FileEntry>& entries = reading.entries;
    // A refusal names the line it refused, and only a refusal does.
    FUZZ_CHECK((reading.refusal == ManifestRefusal::None) == RefusalLogLine(reading).empty(),
               bytes);
    std::size_t lines = 1;
    for (char c : bytes)
        lines += c == '\n';
    FUZZ_CHECK(entries.size() <= lines, bytes);
    const std::string root = std::string(kInstallDir) + "/";
    for (const FileEntry& entry : entries) {
        FUZZ_CHECK(entry.strTargetPath.compare(0, root.size(), root) == 0, entry.strTargetPath);
        FUZZ_CHECK(StaysInside(entry.strTargetPath.substr(root.size())), entry.strTargetPath);
        // The listed path in the system's own naming: code page 936 names become the file
        // system's names on a system that does not name files in it.
        FUZZ_CHECK(entry.strTargetPath ==
                       root + platform::FileNameFromManifest(entry.strRelativePath),
                   entry.strTargetPath);
        FUZZ_CHECK(!entry.strName.empty() && entry.strName != "." && entry.strName != ".." &&
                       entry.strName.find_first_of("/\\") == std::string::npos,
                   entry.strName);
        FUZZ_CHECK(entry.strIncomingPath == root + "incoming/" + entry.strName,
                   entry.strIncomingPath);
        FUZZ_CHECK(entry.strObjectMd5 == entry.strName, entry.strObjectMd5);
        // The digest also names the file the install is copied from, in the incoming folder.
        FUZZ_CHECK(!entry.strManifestMd5.empty() && entry.strManifestMd5 != "." &&
                       entry.strManifestMd5 != ".." &&
                       entry.strManifestMd5.find_first_of("/\\") == std::string::npos,
                   entry.strManifestMd5);
        for (const std::string* field :
             {&entry.strUrl, &entry.strTargetPath, &entry.strManifestMd5})
            FUZZ_CHECK(!HasLineBreakOrZero(*field) && field->find('\t') == std::string::npos,
                       *field);
        FUZZ_CHECK(entry.checkFun == CheckObjectMd5, bytes);
        FUZZ_CHECK(entry.nState.load() == 0 && !entry.bOk.load(), bytes);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    QuietLog();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    bool sizeHeaderTrue = JudgeSizeHeader(bytes).fault == SizeHeaderVerdict::Fault::None;
    FUZZ_CHECK(sizeHeaderTrue == ReferenceSizeHeader(bytes), bytes);

    ManifestReading reading = ParseManifest(bytes, kInstallDir, "launcher_manifest.js");
    CheckEntries(bytes, reading);
    return 0;
}
