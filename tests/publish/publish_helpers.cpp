#include "tests/publish/publish_helpers.h"

#include "manifest/md5.h"
#include "tests/support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

const char kPublisher[] = FELTO_BINARY_DIR "/tools/felto-publish/felto-publish";
const char kKeyedPublisher[] = FELTO_BINARY_DIR "/tools/felto-publish/felto-publish-test-key";

ChildResult RunToEnd(const std::vector<std::string>& argv) {
    ChildOptions options;
    options.timeoutMs = 120000;
    ChildResult result = RunChild(argv, options);
    EXPECT_TRUE(result.finished) << "felto-publish did not end: " << result.stdErr;
    return result;
}

} // namespace

void PutFirstRelease(const std::string& game) {
    PutFile(game, "plantform/x86/7z.exe", "archiver");
    PutFile(game, "plantform/x64/7z.exe", "archiver");
    PutFile(game, "Felto.exe", MakeBytes(1000, 1));
    PutFile(game, "data/level.pak", MakeBytes(5000, 2));
    PutFile(game, "readme.txt", "first words");
}

ChildResult RunPublisher(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kPublisher};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunToEnd(argv);
}

ChildResult RunKeyedPublisher(const std::vector<std::string>& args) {
    std::vector<std::string> argv{kKeyedPublisher};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunToEnd(argv);
}

ChildResult RunPublisherCapturingOutput(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" >&2", kPublisher};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunToEnd(argv);
}

void PutFile(const std::string& root, const std::string& relPath, const std::string& bytes) {
    fs::path path = fs::path(root) / relPath;
    fs::create_directories(path.parent_path());
    WriteFile(path.string(), bytes);
}

std::string ManifestPath(const std::string& output, bool x64) {
    return output + "/microclient/download/" +
           (x64 ? "launcher_manifest_x64.js" : "launcher_manifest.js");
}

PublishedManifest ReadPublishedManifest(const std::string& output, bool x64) {
    PublishedManifest manifest;
    const std::string path = ManifestPath(output, x64);
    EXPECT_TRUE(FileExists(path)) << path;
    const std::string text = ReadFile(path);
    const std::size_t firstEnd = text.find('\n');
    if (firstEnd == std::string::npos) {
        ADD_FAILURE() << "no line end in " << path;
        return manifest;
    }
    manifest.header = text.substr(0, firstEnd);
    manifest.body = text.substr(firstEnd + 1);
    std::size_t pos = 0;
    while (pos < manifest.body.size()) {
        std::size_t end = manifest.body.find('\n', pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "last line without its line end in " << path;
            end = manifest.body.size();
        }
        const std::string line = manifest.body.substr(pos, end - pos);
        pos = end + 1;
        EXPECT_FALSE(line.empty()) << "an empty line would end the installer's list early";
        EXPECT_LE(line.size(), 509u) << line;
        EXPECT_EQ(line.find('\r'), std::string::npos) << line;
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        const std::size_t tab3 = tab2 == std::string::npos ? tab2 : line.find('\t', tab2 + 1);
        const std::size_t tab4 = tab3 == std::string::npos ? tab3 : line.find('\t', tab3 + 1);
        const std::string size =
            tab3 == std::string::npos ? std::string() : line.substr(tab3 + 1, tab4 - tab3 - 1);
        const std::string chunkList =
            tab4 == std::string::npos ? std::string() : line.substr(tab4 + 1);
        if (tab2 == std::string::npos || chunkList.find('\t') != std::string::npos ||
            (tab3 != std::string::npos &&
             (size.empty() || size.find_first_not_of("0123456789") != std::string::npos)) ||
            (tab4 != std::string::npos && chunkList.empty())) {
            ADD_FAILURE() << "not three tab-separated fields, a size and a chunk list: " << line;
            continue;
        }
        manifest.files.push_back({line.substr(0, tab1), line.substr(tab1 + 1, tab2 - tab1 - 1),
                                  line.substr(tab2 + 1, tab3 - tab2 - 1), size, chunkList});
    }
    return manifest;
}

std::map<std::string, std::string> ObjectFiles(const std::string& output) {
    std::map<std::string, std::string> objects;
    const fs::path root = fs::path(output) / "microclient" / "objects";
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->is_regular_file())
            objects[fs::relative(it->path(), output).generic_string()] =
                FileMd5(it->path().string());
    }
    return objects;
}

std::string LastComponent(const std::string& url) {
    return url.substr(url.rfind('/') + 1);
}

std::map<std::string, std::string> UnpackArchive(const std::string& archive,
                                                 const std::string& folder) {
    fs::create_directories(folder);
    ChildResult result = RunChild({"7z", "x", "-o" + folder, archive, "-y"}, ChildOptions());
    EXPECT_TRUE(result.finished && result.exitStatus == 0) << "7z x " << archive << result.stdErr;
    std::map<std::string, std::string> members;
    for (fs::recursive_directory_iterator it(folder), end; it != end; ++it) {
        if (!it->is_directory())
            members[fs::relative(it->path(), folder).generic_string()] =
                ReadFile(it->path().string());
    }
    return members;
}
