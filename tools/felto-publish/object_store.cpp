#include "object_store.h"

#include "archiver.h"

namespace fs = std::filesystem;

namespace publish {

namespace {

std::string LastComponent(const std::string& url) {
    return url.substr(url.rfind('/') + 1);
}

// Removes a temporary file or folder however the work on it ends.
struct TempGuard {
    fs::path path;
    ~TempGuard() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

} // namespace

std::string ObjectUrl(const std::string& md5) {
    return "microclient/objects/" + md5.substr(0, 2) + "/" + md5;
}

ObjectStore::ObjectStore(fs::path outputRoot, std::string archiver)
    : root_(std::move(outputRoot)), objectsDir_(root_ / "microclient" / "objects"),
      archiver_(std::move(archiver)) {}

void ObjectStore::RememberPackedObjects(const std::vector<ManifestLine>& earlier) {
    for (const ManifestLine& line : earlier) {
        const std::string objectMd5 = LastComponent(line.url);
        // Only our own layout: a hand-edited URL must not make us trust a path elsewhere.
        if (objectMd5 != line.md5 && line.url == ObjectUrl(objectMd5))
            earlierPacked_.emplace(line.md5, line.url);
    }
}

void ObjectStore::LoadPackedIndex(const fs::path& path) {
    if (!ReadWholeFile(path, packedIndexText_))
        return;
    std::vector<ManifestLine> lines;
    std::size_t pos = 0;
    while (pos < packedIndexText_.size()) {
        std::size_t end = packedIndexText_.find('\n', pos);
        if (end == std::string::npos)
            end = packedIndexText_.size();
        const std::string line = packedIndexText_.substr(pos, end - pos);
        pos = end + 1;
        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        ManifestLine entry{line.substr(tab + 1), std::string(), line.substr(0, tab)};
        packedIndex_[entry.md5] = entry.url;
        lines.push_back(entry);
    }
    RememberPackedObjects(lines);
}

void ObjectStore::SavePackedIndex(const fs::path& path) const {
    std::map<std::string, std::string> index = packedIndex_;
    for (const auto& [fileMd5, url] : packedDone_)
        index[fileMd5] = url;
    std::string text;
    for (const auto& [fileMd5, url] : index)
        text += fileMd5 + '\t' + url + '\n';
    if (text != packedIndexText_)
        WriteFileAtomically(path, text);
}

std::int64_t ObjectStore::ObjectSize(const std::string& url) const {
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(PathOf(url), ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

bool ObjectStore::HoldsObject(const std::string& url, std::uintmax_t size) const {
    std::error_code ec;
    const fs::path path = PathOf(url);
    return fs::is_regular_file(path, ec) && fs::file_size(path, ec) == size && !ec;
}

void ObjectStore::CopyChecked(const fs::path& file, const Digest& digest, const fs::path& to) {
    Digest copied = CopyHashed(file, to);
    if (copied.md5 != digest.md5)
        throw PublishError(file.string() + " changed while it was being published; run again");
}

std::string ObjectStore::Store(const fs::path& temp, const Digest& digest) {
    const std::string url = ObjectUrl(digest.md5);
    if (HoldsObject(url, digest.size)) {
        ++keptObjects_;
        return url;
    }
    const fs::path path = PathOf(url);
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (!ec)
        fs::rename(temp, path, ec);
    if (ec)
        throw PublishError("cannot store object " + path.string() + ": " + ec.message());
    ++newObjects_;
    newBytes_ += digest.size;
    return url;
}

std::string ObjectStore::PlainObject(const fs::path& file, const Digest& digest) {
    if (auto done = plainDone_.find(digest.md5); done != plainDone_.end())
        return done->second;
    std::string url = ObjectUrl(digest.md5);
    if (HoldsObject(url, digest.size)) {
        ++keptObjects_;
    } else {
        TempGuard temp{objectsDir_ / TempName(digest.md5)};
        CopyChecked(file, digest, temp.path);
        url = Store(temp.path, digest);
    }
    plainDone_.emplace(digest.md5, url);
    return url;
}

std::string ObjectStore::PackedObject(const fs::path& file, const Digest& digest) {
    if (auto done = packedDone_.find(digest.md5); done != packedDone_.end())
        return done->second;
    std::string url;
    auto [candidate, last] = earlierPacked_.equal_range(digest.md5);
    for (; url.empty() && candidate != last; ++candidate) {
        std::error_code ec;
        const fs::path path = PathOf(candidate->second);
        // A damaged object is passed over and, when no other is left, packed anew.
        if (fs::is_regular_file(path, ec) && HashFile(path).md5 == LastComponent(candidate->second))
            url = candidate->second;
    }
    if (!url.empty()) {
        ++keptObjects_;
    } else {
        TempGuard work{objectsDir_ / TempName("pack")};
        fs::create_directory(work.path);
        CopyChecked(file, digest, work.path / digest.md5);
        const std::string archiveName = "object.7z";
        PackFile(archiver_, work.path, digest.md5, archiveName);
        const fs::path archive = work.path / archiveName;
        SyncFile(archive);
        url = Store(archive, HashFile(archive));
    }
    packedDone_.emplace(digest.md5, url);
    return url;
}

} // namespace publish
