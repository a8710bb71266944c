#pragma once
// Runs the built felto-publish on folders made by a test and reads back what it published.

#include "tests/support/child_process.h"

#include <map>
#include <string>
#include <vector>

ChildResult RunPublisher(const std::vector<std::string>& args);
// felto-publish built with the tests' release key (tests/data/test-release-key.public.pem).
ChildResult RunKeyedPublisher(const std::vector<std::string>& args);
// felto-publish with its standard output in the result's stdErr, after its standard error.
ChildResult RunPublisherCapturingOutput(const std::vector<std::string>& args);

// A file of the game folder, its folders made as needed.
void PutFile(const std::string& root, const std::string& relPath, const std::string& bytes);
// The first release of a small game into `game`: both archivers, the game, a level to pack
// ("*.pak") and a readme.
void PutFirstRelease(const std::string& game);

struct ListedFile {
    std::string url;
    std::string relPath;
    std::string md5;
    std::string size;      // the fourth field; empty when the line has none
    std::string chunkList; // the fifth; empty when the line has none
};

struct PublishedManifest {
    std::string header; // line 1 without its line end
    std::string body;   // everything after line 1's LF
    std::vector<ListedFile> files;
};

// Read independently of the publisher: fails the test on anything the installer would not take.
PublishedManifest ReadPublishedManifest(const std::string& output, bool x64 = false);
std::string ManifestPath(const std::string& output, bool x64 = false);

// Every object file below output/microclient/objects: path below output -> MD5 of its bytes.
std::map<std::string, std::string> ObjectFiles(const std::string& output);

std::string LastComponent(const std::string& url);

// Unpacks an archive with Debian's 7z into `folder`: member name -> bytes.
std::map<std::string, std::string> UnpackArchive(const std::string& archive,
                                                 const std::string& folder);
