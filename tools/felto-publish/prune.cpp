#include "prune.h"

#include "file_io.h"
#include "manifest/chunk_list.h"
#include "manifest/manifest_file.h"
#include "manifest_check.h"
#include "options.h"
#include "output_lock.h"

#include <cstdio>
#include <set>

namespace fs = std::filesystem;

namespace publish {

namespace {

struct Unreferenced {
    fs::path path;
    std::string name; // below the tree, "/"-separated
    std::uintmax_t bytes = 0;
};

std::string TreePath(const std::string& urlPath) {
    return fs::path(urlPath).lexically_normal().generic_string();
}

// A chunk list a manifest names and the chunks it names; false after saying why, when the list
// or a chunk is missing or the list cannot be read.
bool ReferencedChunks(const fs::path& output, const std::string& manifest, const std::string& url,
                      std::set<std::string>& referenced) {
    const std::string list = TreePath(url);
    if (!referenced.insert(list).second)
        return true;
    std::string bytes;
    const ChunkListReading reading =
        ReadWholeFile(output / list, bytes) ? ParseChunkList(bytes) : ChunkListReading();
    if (bytes.empty() || reading.refusal != ChunkListRefusal::None) {
        std::fprintf(stderr, "felto-publish: %s names the chunk list %s, which is %s\n",
                     manifest.c_str(), list.c_str(),
                     bytes.empty() ? "missing" : ChunkListRefusalText(reading.refusal));
        return false;
    }
    bool good = true;
    for (const ChunkPiece& chunk : reading.list.chunks) {
        const std::string object = TreePath(ChunkUrl(url, chunk.md5));
        std::error_code ec;
        if (referenced.insert(object).second && !fs::is_regular_file(output / object, ec)) {
            std::fprintf(stderr, "felto-publish: %s names %s, which is missing\n", list.c_str(),
                         object.c_str());
            good = false;
        }
    }
    return good;
}

// The objects the manifests name, or false after saying why the tree is not fit for pruning.
bool ReferencedObjects(const fs::path& output, std::set<std::string>& referenced) {
    bool good = true;
    for (const std::string& urlPath : {strManifestUrl, strManifestUrlX64}) {
        const fs::path path = output / urlPath;
        const std::string name = path.filename().string();
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) {
            std::fprintf(stderr, "felto-publish: %s is missing\n", path.c_str());
            good = false;
            continue;
        }
        const ManifestVerdict verdict = JudgeManifest(path.string());
        if (!verdict.good()) {
            std::fprintf(stderr, "felto-publish: %s: %s\n", path.c_str(),
                         verdict.Problem().c_str());
            good = false;
            continue;
        }
        for (const FileEntry& entry : verdict.entries) {
            const std::string object = TreePath(entry.strUrl);
            if (!fs::is_regular_file(output / object, ec)) {
                std::fprintf(stderr, "felto-publish: %s names %s, which is missing\n", name.c_str(),
                             object.c_str());
                good = false;
            }
            referenced.insert(object);
            if (!entry.strChunkListUrl.empty() &&
                !ReferencedChunks(output, name, entry.strChunkListUrl, referenced))
                good = false;
        }
    }
    return good;
}

std::vector<Unreferenced> FindUnreferenced(const fs::path& output,
                                           const std::set<std::string>& referenced) {
    std::vector<Unreferenced> found;
    const fs::path objects = output / "microclient" / "objects";
    std::error_code ec;
    for (fs::recursive_directory_iterator it(objects, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code statusError;
        const fs::file_status status = it->symlink_status(statusError);
        if (statusError || fs::is_directory(status))
            continue;
        Unreferenced object;
        object.path = it->path();
        object.name = it->path().lexically_relative(output).generic_string();
        if (referenced.count(object.name))
            continue;
        if (fs::is_regular_file(status))
            object.bytes = fs::file_size(it->path(), statusError);
        found.push_back(object);
    }
    if (ec)
        throw PublishError("cannot list " + objects.string() + ": " + ec.message());
    return found;
}

// The two-digit folders that pruning emptied.
void RemoveEmptyFolders(const fs::path& objects) {
    std::error_code ec;
    for (fs::directory_iterator it(objects, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        if (it->is_directory(ignored) && fs::is_empty(it->path(), ignored))
            fs::remove(it->path(), ignored);
    }
}

} // namespace

ExitStatus Prune(const PruneOptions& options) {
    const fs::path output = fs::absolute(options.output);
    std::error_code ec;
    if (!fs::is_directory(output / "microclient", ec)) {
        std::fprintf(stderr, "felto-publish: %s holds no published tree\n", options.output.c_str());
        return kRefused;
    }
    // A publish run writes its objects before its manifests; holding its lock means no manifest
    // appears that names an object found unreferenced here.
    OutputLock lock(output);
    std::set<std::string> referenced;
    if (!ReferencedObjects(output, referenced)) {
        std::fprintf(stderr, "felto-publish: nothing was removed\n");
        return kRefused;
    }

    std::uintmax_t bytes = 0;
    std::size_t removed = 0;
    for (const Unreferenced& object : FindUnreferenced(output, referenced)) {
        if (!options.dryRun && !fs::remove(object.path, ec))
            throw PublishError("cannot remove " + object.path.string() + ": " + ec.message());
        std::printf("%s %s (%ju bytes)\n", options.dryRun ? "would remove" : "removed",
                    object.name.c_str(), object.bytes);
        bytes += object.bytes;
        ++removed;
    }
    if (!options.dryRun)
        RemoveEmptyFolders(output / "microclient" / "objects");
    std::printf("%s %zu unreferenced objects, %ju bytes; %zu objects referenced\n",
                options.dryRun ? "would remove" : "removed", removed, bytes, referenced.size());
    return kPublished;
}

int PruneCommand(const std::vector<std::string>& args) {
    PruneOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--output" && i + 1 < args.size() && options.output.empty()) {
            options.output = args[++i];
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (const auto status = OtherSubcommandWord("prune", arg, !options.output.empty())) {
            return *status;
        } else {
            options.output = arg;
        }
    }
    if (options.output.empty()) {
        std::fprintf(stderr, "felto-publish prune: the published folder is missing\n%s",
                     UsageText());
        return kBadCommandLine;
    }
    return Prune(options);
}

} // namespace publish
