#include "tests/support/server_tree.h"

#include "manifest/md5.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

std::string Md5Of(const std::string& bytes) {
    TempDir dir;
    WriteFile(dir / "data", bytes);
    return FileMd5(dir / "data");
}

std::string ManifestLine(const PublishedEntry& entry, bool withSize) {
    return entry.urlPath + "\t" + entry.relPath + "\t" + entry.fileMd5 +
           (withSize ? "\t" + std::to_string(entry.objectSize) : std::string()) + "\n";
}

namespace {

void Store(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    WriteFile(path, bytes);
}

std::string Pack(const std::string& memberName, const std::string& bytes) {
    TempDir dir;
    WriteFile(dir / memberName, bytes);
    ChildOptions options;
    options.workingDir = dir.path();
    options.timeoutMs = 60000;
    ChildResult result = RunChild({"7z", "a", "-bd", "-y", "packed.7z", memberName}, options);
    if (!result.finished || result.exitStatus != 0)
        throw std::runtime_error("7z failed: " + result.stdErr);
    return ReadFile(dir / "packed.7z");
}

} // namespace

std::vector<PublishedEntry> ServerTree::Publish(const std::vector<GameFile>& files) {
    std::vector<PublishedEntry> entries;
    std::string body;
    for (const GameFile& file : files) {
        PublishedEntry entry;
        entry.relPath = file.path;
        entry.fileMd5 = Md5Of(file.bytes);
        std::string object = file.packed ? Pack(entry.fileMd5, file.bytes) : file.bytes;
        entry.objectMd5 = Md5Of(object);
        entry.objectSize = static_cast<std::int64_t>(object.size());
        entry.urlPath =
            "microclient/objects/" + entry.objectMd5.substr(0, 2) + "/" + entry.objectMd5;
        Store(ObjectPath(entry), object);
        body += ManifestLine(entry, listSizes_);
        entries.push_back(entry);
    }
    WriteManifest(body);
    return entries;
}

void ServerTree::WriteManifest(const std::string& body) {
    WriteRawManifest("#" + std::to_string(body.size()) + "\n" + body);
}

void ServerTree::WriteRawManifest(const std::string& bytes) {
    Store(root_ + "/microclient/download/launcher_manifest.js", bytes);
    Store(root_ + "/microclient/download/launcher_manifest_x64.js", bytes);
}

std::vector<GameFile> LauncherBasics() {
    std::string archiver = "#!/bin/sh\nexec 7z \"$@\" >/dev/null\n";
    std::string game = "#!/bin/sh\necho \"started in $(pwd)\" > game-started.mark\n";
    return {{"plantform/x86/7z.exe", archiver, false},
            {"plantform/x64/7z.exe", archiver, false},
            {"Felto.exe", game, false}};
}
