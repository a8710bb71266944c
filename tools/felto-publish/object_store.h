#pragma once
// The content-addressed objects below OUTPUT/microclient/objects: every object lies under the
// MD5 of its own bytes, so an object once written never changes and is never written twice.

#include "file_io.h"
#include "manifest_text.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace publish {

// "microclient/objects/<first two digits>/<md5>"
std::string ObjectUrl(const std::string& md5);

class ObjectStore {
  public:
    ObjectStore(std::filesystem::path outputRoot, std::string archiver);

    // 7-Zip archives of the same file differ from run to run, so the packed objects of earlier
    // runs are remembered (in an index file, and as named by earlier manifests) and reused: an
    // unchanged file is never packed anew.
    void RememberPackedObjects(const std::vector<ManifestLine>& earlier);
    void LoadPackedIndex(const std::filesystem::path& path);
    // Adds this run's packed objects; written only when it changed.
    void SavePackedIndex(const std::filesystem::path& path) const;

    // The URL path of an object that delivers the file as it is / as an archive whose only
    // member is named by the file's MD5. The file must still have the digest it was hashed with.
    std::string PlainObject(const std::filesystem::path& file, const Digest& digest);
    std::string PackedObject(const std::filesystem::path& file, const Digest& digest);

    // The URL path of the file's chunk list (manifest/chunk_list.h), every chunk it names stored
    // as an object of its own. The file must still have the digest it was hashed with.
    std::string ChunkListObject(const std::filesystem::path& file, const Digest& digest);

    // Bytes of a stored object; -1 when it cannot be learnt.
    std::int64_t ObjectSize(const std::string& url) const;

    int newObjects() const { return newObjects_; }
    std::uintmax_t newBytes() const { return newBytes_; }
    int keptObjects() const { return keptObjects_; }

  private:
    std::filesystem::path PathOf(const std::string& url) const { return root_ / url; }
    bool HoldsObject(const std::string& url, std::uintmax_t size) const;
    // Moves a finished temporary file to its object path (or drops it when that object exists).
    std::string Store(const std::filesystem::path& temp, const Digest& digest);
    std::string StoreBytes(const std::string& bytes, const Digest& digest);
    void CopyChecked(const std::filesystem::path& file, const Digest& digest,
                     const std::filesystem::path& to);

    std::filesystem::path root_;
    std::filesystem::path objectsDir_;
    std::string archiver_;
    std::multimap<std::string, std::string> earlierPacked_; // file MD5 -> object URL paths
    std::map<std::string, std::string> packedIndex_;        // as loaded
    std::string packedIndexText_;
    std::map<std::string, std::string> plainDone_; // this run's answers, by file MD5
    std::map<std::string, std::string> packedDone_;
    std::map<std::string, std::string> chunkListDone_; // list URL paths, by file MD5
    int newObjects_ = 0;
    std::uintmax_t newBytes_ = 0;
    int keptObjects_ = 0;
};

} // namespace publish
