#include "manifest/chunked_update.h"

#include "manifest/chunk_list.h"
#include "manifest/digest_text.h"
#include "manifest/manifest_file.h"
#include "manifest/md5.h"
#include "net/download_worker.h"
#include "net/engine_settings.h"
#include "net/incoming_folder.h"
#include "platform/platform.h"
#include "support/log.h"
#include "support/paths.h"
#include "support/progress.h"

#include <cinttypes>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File Open(const std::string& path, const char* mode) {
    return File(platform::OpenShared(path, mode), std::fclose);
}

bool IsFile(const std::string& path) {
    return platform::QueryPath(path) == platform::PathKind::File;
}

// The download folder, from the entry's own place in it.
std::string FolderOf(const FileEntry& entry) {
    return entry.strIncomingPath.substr(0, entry.strIncomingPath.size() - entry.strName.size() - 1);
}

std::string LastComponent(const std::string& url) {
    return url.substr(url.rfind('/') + 1);
}

// A content-addressed object to fetch into `path`, checked by its digest.
std::unique_ptr<FileEntry> MakeObjectEntry(const std::string& url, const std::string& md5,
                                           const std::string& path) {
    auto object = std::make_unique<FileEntry>();
    object->strUrl = url;
    object->strName = md5;
    object->strObjectMd5 = md5;
    object->strManifestMd5 = md5;
    object->strIncomingPath = path;
    object->strTargetPath = path;
    object->checkFun = CheckObjectMd5;
    return object;
}

void Start(FileEntry& object) {
    GetProgress().StartFile(PathComponents(object.strIncomingPath).back(), object.strIncomingPath);
    StartDownloadWorker(object);
}

bool FetchObject(const std::string& url, const std::string& md5, const std::string& path) {
    std::unique_ptr<FileEntry> object = MakeObjectEntry(url, md5, path);
    Start(*object);
    WaitForDownload(*object);
    return object->bOk.load(std::memory_order_relaxed);
}

// Fetches the objects, as many at once as the build fetches listed objects. Empty when all
// arrived with their digests, else the name of the first that did not; every fetch has ended
// either way.
std::string FetchAll(const std::vector<std::unique_ptr<FileEntry>>& objects) {
    const std::size_t parallel = static_cast<std::size_t>(GetEngineSettings().parallelDownloads);
    std::size_t started = 0;
    for (;;) {
        std::size_t running = 0;
        for (std::size_t i = 0; i < started; ++i)
            running += !objects[i]->IsFinished();
        for (; started < objects.size() && running < parallel; ++started, ++running)
            Start(*objects[started]);
        if (running == 0)
            break;
        WaitForDownloadNews(50);
    }
    for (const std::unique_ptr<FileEntry>& object : objects)
        if (!object->bOk.load(std::memory_order_relaxed))
            return object->strName;
    return std::string();
}

// A list is read whole; one for a file of hundreds of gigabytes in the smallest chunks stays well
// under this, so anything longer is no list and is not taken into memory.
constexpr std::size_t kMostListBytes = 32 * 1024 * 1024;

bool ReadList(const std::string& path, std::string& bytes) {
    File file = Open(path, "rb");
    if (!file)
        return false;
    char piece[4096];
    std::size_t got;
    while ((got = std::fread(piece, 1, sizeof piece, file.get())) > 0) {
        bytes.append(piece, got);
        if (bytes.size() > kMostListBytes)
            return false;
    }
    return std::ferror(file.get()) == 0;
}

// Copies `size` bytes from `from` to `to`, feeding them to `md5`.
bool CopyBytes(std::FILE* from, std::FILE* to, std::int64_t size, Md5Context& md5) {
    unsigned char block[64 * 1024];
    while (size > 0) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::int64_t>(size, sizeof block));
        if (std::fread(block, 1, want, from) != want || std::fwrite(block, 1, want, to) != want)
            return false;
        md5.Update(block, want);
        size -= static_cast<std::int64_t>(want);
    }
    return true;
}

struct Tally {
    int reusedChunks = 0, fetchedChunks = 0;
    std::int64_t reusedBytes = 0, fetchedBytes = 0;
};

// Why the chunked update of `entry` failed; empty once its object is in place.
std::string Update(FileEntry& entry, const std::vector<std::string>& earlierCopies, Tally& tally) {
    if (!SameDigest(entry.strObjectMd5, entry.strManifestMd5))
        return "its object is packed";
    const std::string folder = FolderOf(entry);
    const std::string listMd5 = LastComponent(entry.strChunkListUrl);
    const std::string listPath = folder + "/" + ChunkListFileName(listMd5);
    std::string bytes;
    if (!(IsFile(listPath) && SameDigest(FileMd5(listPath), listMd5)) &&
        !FetchObject(entry.strChunkListUrl, listMd5, listPath))
        return "the chunk list could not be fetched with its digest";
    if (!ReadList(listPath, bytes))
        return "the chunk list could not be read";
    const ChunkListReading reading = ParseChunkList(bytes);
    if (reading.refusal != ChunkListRefusal::None)
        return std::string("the chunk list is refused: ") + ChunkListRefusalText(reading.refusal);
    const ChunkList& list = reading.list;
    if (!SameDigest(list.fileMd5, entry.strManifestMd5))
        return "the chunk list describes another file";

    // Where the installed copy holds each of its chunks, cut at the same boundaries; a file that
    // moved is the earlier release's copy of it.
    std::string oldPath = entry.strTargetPath;
    if (!IsFile(oldPath)) {
        for (const std::string& copy : earlierCopies)
            if (IsFile(copy)) {
                oldPath = copy;
                break;
            }
    }
    std::map<std::string, std::int64_t> oldOffset;
    std::vector<ChunkPiece> oldChunks;
    if (IsFile(oldPath) && CutFileIntoChunks(oldPath, oldChunks, nullptr)) {
        std::int64_t offset = 0;
        for (const ChunkPiece& chunk : oldChunks) {
            oldOffset.emplace(chunk.md5 + ":" + std::to_string(chunk.size), offset);
            offset += chunk.size;
        }
    }
    std::set<std::string> counted;
    std::vector<std::unique_ptr<FileEntry>> missing;
    for (const ChunkPiece& chunk : list.chunks) {
        const bool first = counted.insert(chunk.md5).second;
        const std::string path = folder + "/" + ChunkFileName(chunk.md5);
        if (oldOffset.count(chunk.md5 + ":" + std::to_string(chunk.size)) ||
            (IsFile(path) && SameDigest(FileMd5(path), chunk.md5))) {
            tally.reusedChunks += first;
            tally.reusedBytes += first ? chunk.size : 0;
            continue;
        }
        if (first) {
            missing.push_back(
                MakeObjectEntry(ChunkUrl(entry.strChunkListUrl, chunk.md5), chunk.md5, path));
            ++tally.fetchedChunks;
            tally.fetchedBytes += chunk.size;
        }
    }
    const std::string failed = FetchAll(missing);
    if (!failed.empty())
        return "chunk " + failed + " could not be fetched with its digest";

    // The file, in the order of its list, with its digest taken on the way.
    const std::string assembly = folder + "/" + AssemblyFileName(entry.strName);
    File out = Open(assembly, "wb");
    File old = Open(oldPath, "rb");
    if (!out)
        return "the file cannot be assembled: " + platform::SystemErrorText(platform::LastError());
    Md5Context md5;
    for (const ChunkPiece& chunk : list.chunks) {
        auto inOld = oldOffset.find(chunk.md5 + ":" + std::to_string(chunk.size));
        bool copied = false;
        if (inOld != oldOffset.end() && old) {
            copied = platform::SeekTo(old.get(), inOld->second) &&
                     CopyBytes(old.get(), out.get(), chunk.size, md5);
        } else {
            File piece = Open(folder + "/" + ChunkFileName(chunk.md5), "rb");
            copied = piece && CopyBytes(piece.get(), out.get(), chunk.size, md5);
        }
        if (!copied) {
            const bool writeFailed = std::ferror(out.get()) != 0;
            out.reset();
            platform::RemoveFile(assembly);
            return writeFailed ? "the file could not be written (the disk may be full)"
                               : "a chunk could not be read whole";
        }
    }
    bool written = std::fflush(out.get()) == 0 && !std::ferror(out.get());
    written = std::fclose(out.release()) == 0 && written;
    old.reset();
    unsigned char digest[16];
    const bool digestOk = md5.Final(digest);
    if (!written || !digestOk || !SameDigest(Md5Hex(digest), entry.strManifestMd5)) {
        platform::RemoveFile(assembly);
        return written ? "the assembled file has another digest"
                       : "the file could not be written (the disk may be full)";
    }
    if (!platform::MoveFileOver(assembly, entry.strIncomingPath)) {
        platform::RemoveFile(assembly);
        return "the assembled file cannot be put in place";
    }
    // The chunks now live in a checked file of their own.
    for (const ChunkPiece& chunk : list.chunks) {
        const std::string path = folder + "/" + ChunkFileName(chunk.md5);
        if (IsFile(path))
            platform::RemoveFile(path);
    }
    platform::RemoveFile(listPath);
    return std::string();
}

} // namespace

bool FetchByChunks(FileEntry& entry, const std::vector<std::string>& earlierCopies) {
    Tally tally;
    const std::string why = Update(entry, earlierCopies, tally);
    if (!why.empty()) {
        WriteLog("Chunked update of " + entry.strTargetPath + " failed: " + why +
                 "; fetching the whole object");
        return false;
    }
    WriteLog(FormatString("Chunked update of %s: %d chunks (%" PRId64
                          " bytes) reused, %d chunks (%" PRId64 " bytes) fetched",
                          entry.strTargetPath.c_str(), tally.reusedChunks, tally.reusedBytes,
                          tally.fetchedChunks, tally.fetchedBytes));
    entry.Finish(true);
    return true;
}

std::vector<std::string> ChunkedUpdateFileNames(const FileEntry& entry) {
    std::vector<std::string> names;
    if (entry.strChunkListUrl.empty())
        return names;
    const std::string listName = ChunkListFileName(LastComponent(entry.strChunkListUrl));
    names = DownloadFileNames(listName);
    std::string bytes;
    if (!ReadList(FolderOf(entry) + "/" + listName, bytes))
        return names;
    const ChunkListReading reading = ParseChunkList(bytes);
    for (const ChunkPiece& chunk : reading.list.chunks) {
        for (const std::string& name : DownloadFileNames(ChunkFileName(chunk.md5)))
            names.push_back(name);
    }
    return names;
}
