#include "check_chunks.h"

#include "file_io.h"
#include "manifest/chunk_list.h"
#include "manifest/manifest_file.h"

#include <algorithm>
#include <random>
#include <vector>

namespace fs = std::filesystem;

namespace publish {

namespace {

constexpr std::size_t kChunksPerList = 3;
const char* const kFallBackAdvice =
    "; installers with chunked updates fetch the whole object instead; fix: publish again";

// The object at `url`, fetched into `path` and checked against the digest in its name.
bool FetchChecked(const ServerAddress& server, const std::string& url, const fs::path& path) {
    FileEntry entry = MakeFileEntry(url, std::string());
    entry.strIncomingPath = path.string();
    return FetchFile(server, url, entry.strIncomingPath).downloaded && CheckObjectMd5(entry);
}

// What is wrong with one list and a sample of its chunks; empty when nothing is.
std::string ListProblem(const ServerAddress& server, const std::string& url,
                        const std::string& fileMd5, const fs::path& work, std::mt19937& random,
                        std::size_t& chunksChecked) {
    const fs::path copy = work / "chunk-list";
    std::string bytes;
    if (!FetchChecked(server, url, copy) || !ReadWholeFile(copy, bytes))
        return "the download failed or its bytes do not have the digest in its name";
    const ChunkListReading reading = ParseChunkList(bytes);
    if (reading.refusal != ChunkListRefusal::None)
        return std::string("it is no chunk list: ") + ChunkListRefusalText(reading.refusal);
    if (reading.list.fileMd5 != fileMd5)
        return "it cuts another file than the manifest lists";
    std::vector<ChunkPiece> sample = reading.list.chunks;
    std::shuffle(sample.begin(), sample.end(), random);
    sample.resize(std::min(sample.size(), kChunksPerList));
    for (const ChunkPiece& chunk : sample) {
        const std::string chunkUrl = ChunkUrl(url, chunk.md5);
        const fs::path chunkCopy = work / "chunk";
        std::error_code ec;
        const bool good = FetchChecked(server, chunkUrl, chunkCopy) &&
                          fs::file_size(chunkCopy, ec) == static_cast<std::uintmax_t>(chunk.size);
        fs::remove(chunkCopy, ec);
        if (!good)
            return "its chunk " + chunkUrl + " is missing, damaged or of another size";
        ++chunksChecked;
    }
    return std::string();
}

} // namespace

void CheckChunkLists(const ServerAddress& server, const std::map<std::string, std::string>& named,
                     std::size_t lists, const fs::path& work, Report& report) {
    if (named.empty())
        return;
    std::vector<std::pair<std::string, std::string>> chosen(named.begin(), named.end());
    std::mt19937 random{std::random_device{}()};
    std::shuffle(chosen.begin(), chosen.end(), random);
    chosen.resize(std::min(chosen.size(), lists));
    std::size_t good = 0, chunks = 0;
    for (const auto& [url, fileMd5] : chosen) {
        const std::string problem = ListProblem(server, url, fileMd5, work, random, chunks);
        if (problem.empty())
            ++good;
        else
            report.Line("WARN", "chunk list " + url + ": " + problem + kFallBackAdvice);
    }
    if (good == chosen.size())
        report.Line("ok", std::to_string(good) + " of " + std::to_string(named.size()) +
                              " chunk lists and " + std::to_string(chunks) +
                              " of their chunks fetched with their digest" +
                              (chosen.size() < named.size() ? " (a sample)" : ""));
}

} // namespace publish
