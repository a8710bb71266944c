#include "support/paths.h"

#include "platform/platform.h"

using platform::PathKind;

namespace {

// Length of the character that starts at `at`: two bytes after a lead byte, else one.
std::size_t CharLength(const std::string& text, std::size_t at) {
    return platform::IsLeadByte(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2
                                                                                              : 1;
}

// The first occurrence of `find` that starts on a character boundary.
std::size_t FindWhole(const std::string& text, const std::string& find) {
    for (std::size_t at = 0; at < text.size(); at += CharLength(text, at))
        if (text.compare(at, find.size(), find) == 0)
            return at;
    return std::string::npos;
}

bool MakeOne(const std::string& path, int& error) {
    if (platform::MakeFolder(path))
        return true;
    error = platform::LastError();
    return false;
}

} // namespace

std::string ReplaceAll(const std::string& source, const std::string& find,
                       const std::string& replacement) {
    std::string result = source;
    if (find.empty() || replacement.find(find) != std::string::npos)
        return result; // would never end
    for (std::size_t at = FindWhole(result, find); at != std::string::npos;
         at = FindWhole(result, find))
        result.replace(at, find.size(), replacement);
    return result;
}

std::vector<std::string> PathComponents(const std::string& path) {
    std::vector<std::string> parts(1);
    for (std::size_t at = 0; at < path.size();) {
        std::size_t length = CharLength(path, at);
        if (length == 1 && (path[at] == '/' || path[at] == '\\'))
            parts.emplace_back();
        else
            parts.back().append(path, at, length);
        at += length;
    }
    return parts;
}

void CreateOneDirectory(const std::string& path) {
    int ignored = 0;
    if (path == "." || path == "..")
        return;
    if (platform::QueryPath(path) == PathKind::Directory)
        return;
    MakeOne(path, ignored);
}

int MakeDirectories(const char* path) {
    int ignored = 0;
    return MakeDirectories(path, ignored);
}

int MakeDirectories(const char* path, int& error) {
    error = 0;
    if (platform::QueryPath(path) == PathKind::Directory)
        return 1;
    std::string work = ReplaceAll(path, "\\", "/");
    // Parents are made only for a path that names its root: "D:" on Windows, "/" elsewhere.
    bool rooted = platform::IsAbsolutePath(work);
    for (std::size_t slash = work.find('/'); slash != std::string::npos;
         slash = work.find('/', slash + 1)) {
        std::string prefix = work.substr(0, slash);
        if ((prefix.find(':') != std::string::npos || (rooted && !prefix.empty())) &&
            platform::QueryPath(prefix) != PathKind::Directory)
            MakeOne(prefix, error);
    }
    if (work != "." && work != ".." && platform::QueryPath(work) != PathKind::Directory)
        MakeOne(work, error);
    return platform::QueryPath(work) == PathKind::Directory ? 1 : 0;
}

std::string FoldPathCase(const std::string& text) {
    std::string folded = text;
    for (std::size_t i = 0; i < folded.size(); ++i) {
        if (platform::IsLeadByte(static_cast<unsigned char>(folded[i])))
            ++i;
        else if (folded[i] >= 'A' && folded[i] <= 'Z')
            folded[i] = static_cast<char>(folded[i] - 'A' + 'a');
    }
    return folded;
}
