#include "publish.h"

#include "code_page.h"
#include "file_io.h"
#include "game_layout.h"
#include "manifest/install_path.h"
#include "manifest/manifest_file.h"
#include "manifest_text.h"
#include "object_store.h"
#include "output_lock.h"
#include "progress.h"
#include "scan.h"
#include "signing.h"

#include <algorithm>
#include <cstdio>
#include <fnmatch.h>

namespace fs = std::filesystem;

namespace publish {

namespace {

const char* const kManifestNames[2] = {"launcher_manifest.js", "launcher_manifest_x64.js"};

struct Tree {
    fs::path root;
    std::vector<SourceFile> files; // in install order
    std::vector<Digest> digests;   // one per file
};

void Say(const std::string& text) {
    std::fprintf(stderr, "felto-publish: %s\n", text.c_str());
}

bool IsInside(const fs::path& path, const fs::path& root) {
    return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

bool MatchesGlob(const std::string& glob, const std::string& relPath) {
    if (glob.find('/') != std::string::npos)
        return ::fnmatch(glob.c_str(), relPath.c_str(), FNM_PATHNAME) == 0;
    const std::string name = relPath.substr(relPath.rfind('/') + 1);
    return ::fnmatch(glob.c_str(), name.c_str(), 0) == 0;
}

bool ShouldPack(const PublishOptions& options, const std::string& relPath, std::uintmax_t size) {
    // The installer needs the archiver itself unpacked.
    if (IsInArchiverFolder(relPath))
        return false;
    if (options.packOver && size > *options.packOver)
        return true;
    return std::any_of(options.packGlobs.begin(), options.packGlobs.end(),
                       [&](const std::string& glob) { return MatchesGlob(glob, relPath); });
}

// Everything the installer could not read, before anything is written.
bool CheckTree(const fs::path& given, Tree& tree, std::vector<std::string>& problems) {
    std::error_code ec;
    tree.root = fs::canonical(given, ec);
    if (ec || !fs::is_directory(tree.root, ec)) {
        problems.push_back(given.string() + ": not a folder");
        return false;
    }
    ScanResult scan = ScanFolder(tree.root);
    const std::size_t before = problems.size();
    for (const std::string& problem : scan.problems)
        problems.push_back(given.string() + ": " + problem);
    const std::size_t urlLength = ObjectUrl(std::string(32, '0')).size();
    for (SourceFile& file : scan.files) {
        if (!ToCodePage936(file.relPath, file.listedPath)) {
            problems.push_back(given.string() + ": " + Printable(file.relPath) +
                               ": a name code page 936 cannot hold, the code page the Windows "
                               "installer reads the manifest's names in");
            continue;
        }
        ManifestLine line{std::string(urlLength, 'u'), file.listedPath, std::string(32, '0')};
        if (LineLength(line) > static_cast<std::size_t>(kManifestLineLimit))
            problems.push_back(given.string() + ": " + Printable(file.relPath) +
                               ": path too long; the installer reads manifest lines of at most " +
                               std::to_string(kManifestLineLimit) + " characters");
        else if (std::string warning = WindowsPathWarning(file.relPath); !warning.empty())
            Say("warning: " + Printable(warning));
    }
    std::sort(scan.files.begin(), scan.files.end(), [](const SourceFile& a, const SourceFile& b) {
        return InstallsBefore(a.relPath, b.relPath);
    });
    tree.files = std::move(scan.files);
    return problems.size() == before;
}

// Temporary files of a run that did not finish; safe to remove while we hold the lock.
void RemoveLeftovers(const std::vector<fs::path>& folders) {
    for (const fs::path& folder : folders) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->path().filename().string().rfind(kTempPrefix, 0) == 0) {
                std::error_code ignored;
                fs::remove_all(it->path(), ignored);
            }
        }
    }
}

void HashTrees(std::vector<Tree*>& trees, bool quiet) {
    std::size_t totalFiles = 0, doneFiles = 0;
    std::uintmax_t totalBytes = 0, doneBytes = 0;
    for (Tree* tree : trees) {
        totalFiles += tree->files.size();
        for (const SourceFile& file : tree->files)
            totalBytes += file.size;
    }
    Progress progress(!quiet);
    for (Tree* tree : trees) {
        for (const SourceFile& file : tree->files) {
            progress.Update("hashing", doneFiles, totalFiles, doneBytes, totalBytes);
            tree->digests.push_back(HashFile(file.path));
            ++doneFiles;
            doneBytes += file.size;
        }
    }
}

// The manifest lines of each tree, every object they name stored.
std::vector<std::vector<ManifestLine>>
StoreObjects(const PublishOptions& options, const std::vector<Tree*>& trees, ObjectStore& store) {
    std::size_t totalFiles = 0, doneFiles = 0;
    std::uintmax_t totalBytes = 0, doneBytes = 0;
    for (const Tree* tree : trees) {
        totalFiles += tree->files.size();
        for (const Digest& digest : tree->digests)
            totalBytes += digest.size;
    }
    Progress progress(!options.quiet);
    std::vector<std::vector<ManifestLine>> lines;
    for (const Tree* tree : trees) {
        lines.emplace_back();
        for (std::size_t i = 0; i < tree->files.size(); ++i) {
            progress.Update("storing", doneFiles, totalFiles, doneBytes, totalBytes);
            const SourceFile& file = tree->files[i];
            const Digest& digest = tree->digests[i];
            const bool packed = ShouldPack(options, file.relPath, digest.size);
            const std::string url = packed ? store.PackedObject(file.path, digest)
                                           : store.PlainObject(file.path, digest);
            // Installers assemble plain objects only: a packed file's chunks would go unused.
            const std::string chunkList =
                options.chunks && !packed && digest.size > options.chunksOver
                    ? store.ChunkListObject(file.path, digest)
                    : std::string();
            lines.back().push_back(
                {url, file.listedPath, digest.md5, store.ObjectSize(url), chunkList});
            ++doneFiles;
            doneBytes += digest.size;
        }
    }
    return lines;
}

// The launcher and, when anything is packed, both archivers: refused without them unless the
// studio says the tree is meant to be incomplete.
void CheckGameParts(const PublishOptions& options, const fs::path& given, const Tree& tree,
                    InstalledOn on, std::vector<std::string>& problems) {
    std::vector<std::string> relPaths;
    std::size_t packed = 0;
    for (const SourceFile& file : tree.files) {
        relPaths.push_back(file.relPath);
        packed += ShouldPack(options, file.relPath, file.size) ? 1 : 0;
    }
    for (const std::string& missing : MissingGameParts(relPaths, packed, on)) {
        if (options.allowIncomplete)
            Say("warning: " + given.string() + ": " + missing);
        else
            problems.push_back(given.string() + ": " + missing +
                               "; add it (see README: What a game folder holds), or publish with "
                               "--allow-incomplete");
    }
}

ExitStatus Refuse(const std::vector<std::string>& problems) {
    for (const std::string& problem : problems)
        Say("refused: " + problem);
    Say("nothing was written");
    return kRefused;
}

} // namespace

ExitStatus Publish(const PublishOptions& options) {
    std::vector<std::string> problems;
    Tree trees[2];
    const bool twoTrees = !options.inputX64.empty();
    if (CheckTree(options.input, trees[0], problems))
        CheckGameParts(options, options.input, trees[0],
                       twoTrees ? InstalledOn::Windows32 : InstalledOn::Both, problems);
    if (twoTrees && CheckTree(options.inputX64, trees[1], problems))
        CheckGameParts(options, options.inputX64, trees[1], InstalledOn::Windows64, problems);

    std::error_code ec;
    const fs::path output = fs::weakly_canonical(fs::absolute(options.output), ec);
    if (ec) {
        problems.push_back(options.output.string() + ": " + ec.message());
    } else if (fs::exists(output, ec) && !fs::is_directory(output, ec)) {
        problems.push_back(options.output.string() + ": not a folder");
    } else {
        for (const Tree& tree : trees) {
            if (!tree.root.empty() && IsInside(output, tree.root))
                problems.push_back(options.output.string() +
                                   ": inside the game folder, which would publish itself");
        }
    }
    std::optional<SigningKey> signingKey;
    if (!options.signKey.empty()) {
        try {
            signingKey = SigningKey::ReadPrivate(options.signKey);
            Say("signing with " + signingKey->Fingerprint());
            const std::string mismatch = KeyMismatch(*signingKey);
            if (!mismatch.empty() && options.keyMismatchOk)
                Say("warning: " + mismatch);
            else if (!mismatch.empty())
                problems.push_back(options.signKey.string() + ": " + mismatch);
        } catch (const PublishError& e) {
            problems.push_back(e.what());
        }
    } else if (!ec) {
        // New manifests beside the signatures of older ones fail every keyed installer.
        for (const char* name : kManifestNames) {
            const fs::path signature = output / "microclient" / "download" / SignatureName(name);
            if (fs::exists(signature, ec))
                problems.push_back(signature.string() +
                                   ": the tree is signed, and a manifest published without "
                                   "--sign-key beside this signature would be refused by every "
                                   "installer built with the release key (error 106); publish "
                                   "with --sign-key, or remove the .sig files to publish unsigned");
        }
    }
    if (!problems.empty())
        return Refuse(problems);

    std::string archiver = options.archiver;
    if (archiver.find('/') != std::string::npos)
        archiver = fs::absolute(archiver).string(); // the archiver runs in another folder

    const fs::path downloadDir = output / "microclient" / "download";
    const fs::path objectsDir = output / "microclient" / "objects";
    fs::create_directories(downloadDir);
    fs::create_directories(objectsDir);
    OutputLock lock(output);
    RemoveLeftovers({output, downloadDir, objectsDir});

    ObjectStore store(output, archiver);
    const fs::path packedIndex = output / ".felto-packed-objects";
    store.LoadPackedIndex(packedIndex);
    std::string earlier[2];
    bool hadEarlier[2];
    for (int i = 0; i < 2; ++i) {
        hadEarlier[i] = ReadWholeFile(downloadDir / kManifestNames[i], earlier[i]);
        store.RememberPackedObjects(ParseManifest(earlier[i], kManifestNames[i]));
    }

    std::vector<Tree*> distinct{&trees[0]};
    if (twoTrees)
        distinct.push_back(&trees[1]);
    HashTrees(distinct, options.quiet);

    const std::vector<std::vector<ManifestLine>> lines = StoreObjects(options, distinct, store);
    const std::vector<ManifestLine>* manifestLines[2] = {&lines[0], &lines[twoTrees ? 1 : 0]};
    std::string text[2];
    std::size_t lineCount[2];
    for (int i = 0; i < 2; ++i) {
        text[i] = ManifestText(*manifestLines[i]);
        lineCount[i] = manifestLines[i]->size();
    }

    store.SavePackedIndex(packedIndex);

    // Last, once every object they name is in place; a manifest's signature before it, so a
    // reader never finds a manifest without its signature.
    std::string written;
    ReleaseStamp stamp;
    if (signingKey)
        stamp = NextStamp(downloadDir, options.expiresInDays);
    for (int i = 0; i < 2; ++i) {
        const bool changed = !hadEarlier[i] || earlier[i] != text[i];
        const bool signedNow =
            signingKey &&
            WriteSignature(*signingKey, downloadDir, kManifestNames[i], text[i], changed, stamp);
        if (changed)
            WriteFileAtomically(downloadDir / kManifestNames[i], text[i]);
        if (signingKey)
            CheckWrittenSignature(*signingKey, downloadDir, kManifestNames[i]);
        written += std::string(i ? ", " : "") + kManifestNames[i] + " (" +
                   std::to_string(lineCount[i]) + " files) " + (changed ? "written" : "unchanged") +
                   (signedNow ? ", signed as release " + std::to_string(stamp.release) : "");
    }

    std::uintmax_t bytes = 0;
    std::size_t files = 0;
    for (const Tree* tree : distinct) {
        files += tree->files.size();
        for (const Digest& digest : tree->digests)
            bytes += digest.size;
    }
    Say("published " + std::to_string(files) + " files, " + std::to_string(bytes) + " bytes; " +
        std::to_string(store.newObjects()) + " new objects (" + std::to_string(store.newBytes()) +
        " bytes), " + std::to_string(store.keptObjects()) + " already there; " + written);
    return kPublished;
}

} // namespace publish
