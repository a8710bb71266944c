#include "support/paths.h"

#include "platform/platform.h"

using platform::PathKind;

std::string ReplaceAll(const std::string& source, const std::string& find,
                       const std::string& replacement) {
    std::string result = source;
    if (find.empty() || replacement.find(find) != std::string::npos)
        return result; // would never end
    for (std::size_t at = result.find(find); at != std::string::npos; at = result.find(find))
        result.replace(at, find.size(), replacement);
    return result;
}

void CreateOneDirectory(const std::string& path) {
    if (path == "." || path == "..")
        return;
    if (platform::QueryPath(path) == PathKind::Directory)
        return;
    platform::MakeFolder(path);
}

int MakeDirectories(const char* path) {
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
            platform::MakeFolder(prefix);
    }
    CreateOneDirectory(work);
    return platform::QueryPath(work) == PathKind::Directory ? 1 : 0;
}
