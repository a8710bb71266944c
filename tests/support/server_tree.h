#pragma once
// Lays out what the download server serves: the two launcher manifests and the objects, stored
// under the MD5 of their content, optionally packed with 7-Zip.

#include <cstdint>
#include <string>
#include <vector>

struct GameFile {
    std::string path;  // relative install path
    std::string bytes; // content once installed
    bool packed = false;
};

struct PublishedEntry {
    std::string urlPath; // below the server's root
    std::string relPath;
    std::string fileMd5;
    std::string objectMd5; // last component of urlPath
    std::int64_t objectSize = 0;
};

class ServerTree {
  public:
    explicit ServerTree(std::string root) : root_(std::move(root)) {}
    // Manifests list each object's size after its digest, as felto-publish writes them.
    void ListSizes(bool list) { listSizes_ = list; }
    // Writes every object and both manifests (launcher_manifest.js and _x64.js, same content).
    std::vector<PublishedEntry> Publish(const std::vector<GameFile>& files);
    // Writes a manifest body as given, with its size header.
    void WriteManifest(const std::string& body);
    // Writes raw manifest bytes (no header added).
    void WriteRawManifest(const std::string& bytes);
    std::string ObjectPath(const PublishedEntry& entry) const {
        return root_ + "/" + entry.urlPath;
    }
    const std::string& root() const { return root_; }

  private:
    std::string root_;
    bool listSizes_ = false;
};

std::string Md5Of(const std::string& bytes);
// A line of the manifest: url path, install path, digest (and the object's size when asked).
std::string ManifestLine(const PublishedEntry& entry, bool withSize = false);

// Files every test tree ships: the archiver stand-in for both system types and a game that
// leaves "game-started.mark" in its working folder.
std::vector<GameFile> LauncherBasics();
