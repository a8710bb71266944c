#include "check.h"

#include "check_chunks.h"
#include "check_report.h"
#include "file_io.h"
#include "game_layout.h"
#include "manifest/manifest_file.h"
#include "manifest/md5.h"
#include "manifest/release_key.h"
#include "manifest_check.h"
#include "manifest_text.h"
#include "net/engine_settings.h"
#include "options.h"
#include "progress.h"
#include "publish.h"
#include "server_probe.h"
#include "signing.h"
#include "support/log.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <random>

namespace fs = std::filesystem;

namespace publish {

namespace {

// A whole tree gone missing must not bury the summary.
constexpr int kMaxObjectLines = 20;

struct WorkDir {
    fs::path path;
    WorkDir() : path(fs::temp_directory_path() / TempName("check")) {
        fs::create_directories(path);
    }
    ~WorkDir() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    WorkDir(const WorkDir&) = delete;
    WorkDir& operator=(const WorkDir&) = delete;
};

struct ListedObject {
    std::string url;
    std::int64_t bytes = -1; // announced by the server; -1 when it could not be asked
};

std::string Megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
    return text;
}

constexpr std::int64_t kExpiryWarningSeconds = 7 * 24 * 60 * 60;

// The key an installer of this build checks signatures with, or the one named on the command
// line; none when neither is there.
std::optional<SigningKey> CheckingKey(const CheckOptions& options, const fs::path& work) {
    if (!options.releaseKeyPath.empty())
        return SigningKey::ReadPublic(options.releaseKeyPath);
    const std::string base64 = ReleaseKey();
    if (base64.empty())
        return std::nullopt;
    std::string pem = "-----BEGIN PUBLIC KEY-----\n";
    for (std::size_t at = 0; at < base64.size(); at += 64)
        pem += base64.substr(at, 64) + "\n";
    pem += "-----END PUBLIC KEY-----\n";
    const fs::path path = work / "release-public.pem";
    WriteFileAtomically(path, pem);
    return SigningKey::ReadPublic(path);
}

// The signature beside a good manifest, as an installer built with `key` fetches and checks it.
bool CheckSignature(const ServerAddress& server, const SigningKey& key, const std::string& urlPath,
                    const std::string& name, const fs::path& work, Report& report) {
    const std::string signatureName = SignatureName(name);
    const std::string copy = (work / signatureName).string();
    if (!FetchFile(server, urlPath + ".sig", copy).downloaded) {
        report.Fail(signatureName + ": not on the server (players see error 106)",
                    "upload " + signatureName + " from the published tree beside its manifest (" +
                        "felto-publish --sign-key writes it)");
        return false;
    }
    std::string manifest, signature, head, der;
    ReleaseStamp stamp;
    if (ReadWholeFile(copy, signature) &&
        SplitSignatureFile(signature, head, stamp, der) == SignatureFileKind::OldFormat) {
        report.Fail(signatureName + ": the old format without a release number (players see "
                                    "error 106)",
                    "sign again: felto-publish resign OUTPUT --sign-key ...");
        return false;
    }
    if (!ReadWholeFile(work / name, manifest) || !key.Verifies(name, manifest, signature, &stamp)) {
        report.Fail(signatureName + ": does not match the manifest and the release key (players "
                                    "see error 106)",
                    "publish again with --sign-key and the private key of this build's key");
        return false;
    }
    const std::string release = "release " + std::to_string(stamp.release);
    if (!stamp.expires) {
        report.Line("ok",
                    signatureName + ": signed with the release key, " + release + ", no expiry");
        return true;
    }
    const std::int64_t left = *stamp.expires - static_cast<std::int64_t>(std::time(nullptr));
    const std::string expiry = release + ", expires " + UtcText(*stamp.expires);
    if (left < 0) {
        report.Fail(signatureName + ": expired, " + expiry +
                        " (players see error 106 three days after it)",
                    "felto-publish resign OUTPUT --sign-key ... --expires-in DAYS");
        return false;
    }
    if (left < kExpiryWarningSeconds) {
        report.Line("WARN", signatureName + ": " + expiry +
                                ", within 7 days; renew it: felto-publish resign OUTPUT "
                                "--sign-key ... --expires-in DAYS");
        return true;
    }
    report.Line("ok", signatureName + ": signed with the release key, " + expiry);
    return true;
}

// Both manifests fetched and read as the installer reads them; the objects they list, once each.
// The chunk lists they name go to `chunkLists` (URL path -> the digest of the file cut).
std::vector<ListedObject> CheckManifests(const ServerAddress& server, const fs::path& work,
                                         const std::optional<SigningKey>& key, Report& report,
                                         HeadStats& heads,
                                         std::map<std::string, std::string>& chunkLists) {
    std::map<std::string, ListedObject> objects;
    for (const std::string& urlPath : {strManifestUrl, strManifestUrlX64}) {
        const std::string name = urlPath.substr(urlPath.rfind('/') + 1);
        const HeadAnswer answer = AskHead(server, urlPath, 0);
        heads.Record(answer, urlPath);
        if (const Refusal refusal = ExplainRefusal(answer); !refusal.why.empty()) {
            report.Fail(name + ": " + refusal.why + " (players see error 101)", refusal.fix);
            continue;
        }
        const std::string copy = (work / name).string();
        if (!FetchFile(server, urlPath, copy).downloaded) {
            report.Fail(name + ": the download failed (players see error 101)",
                        "see the engine's log (--log FILE)");
            continue;
        }
        const ManifestVerdict verdict = JudgeManifest(copy);
        if (!verdict.good()) {
            report.Fail(name + ": " + verdict.Problem(), verdict.compressed
                                                             ? kCompressionOffAdvice
                                                             : "publish again with felto-publish");
            continue;
        }
        if (key && !CheckSignature(server, *key, urlPath, name, work, report))
            continue;
        report.Line("ok", name + ": " + std::to_string(verdict.entries.size()) +
                              " files, size header true");
        std::vector<std::string> relPaths;
        std::size_t packed = 0;
        for (const FileEntry& entry : verdict.entries) {
            relPaths.push_back(entry.strRelativePath);
            packed += entry.strObjectMd5 != entry.strManifestMd5 ? 1 : 0;
        }
        const InstalledOn on =
            urlPath == strManifestUrlX64 ? InstalledOn::Windows64 : InstalledOn::Windows32;
        for (const std::string& missing : MissingGameParts(relPaths, packed, on))
            report.Fail(name + ": " + missing,
                        "publish the whole game (README: What a game folder holds)");
        for (const FileEntry& entry : verdict.entries) {
            objects[entry.strUrl].url = entry.strUrl;
            if (!entry.strChunkListUrl.empty())
                chunkLists.emplace(entry.strChunkListUrl, entry.strManifestMd5);
            const std::string warning = WindowsPathWarning(entry.strRelativePath);
            if (!warning.empty())
                report.Line("WARN", name + ": " + warning);
        }
    }
    std::vector<ListedObject> listed;
    for (auto& [url, object] : objects)
        listed.push_back(object);
    return listed;
}

// Every object asked for once, as the installer's first request for it does. The objects that
// are present, with their sizes.
std::vector<ListedObject*> AskEveryObject(const ServerAddress& server,
                                          std::vector<ListedObject>& objects, Report& report,
                                          HeadStats& heads, bool quiet) {
    std::vector<ListedObject*> present;
    Progress progress(!quiet);
    int reported = 0;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        progress.Update("asking for", i, objects.size(), 0, 0);
        ListedObject& object = objects[i];
        const HeadAnswer answer = AskHead(server, object.url, 0);
        heads.Record(answer, object.url);
        const Refusal refusal = ExplainRefusal(answer);
        if (refusal.why.empty()) {
            object.bytes = answer.head.contentLength;
            present.push_back(&object);
        } else if (reported++ < kMaxObjectLines) {
            report.Fail("object " + object.url + ": " + refusal.why, refusal.fix);
        }
    }
    progress.Finish();
    if (reported > kMaxObjectLines)
        report.Line("FAIL", "... and " + std::to_string(reported - kMaxObjectLines) +
                                " more objects the installer cannot fetch");
    return present;
}

// The objects whose bytes are fetched and checked: all of them, or a sample that always holds
// the largest.
std::vector<ListedObject*> ChooseSample(std::vector<ListedObject*> present,
                                        std::optional<std::size_t> sample) {
    if (!sample || *sample >= present.size())
        return present;
    auto largest = std::max_element(
        present.begin(), present.end(),
        [](const ListedObject* a, const ListedObject* b) { return a->bytes < b->bytes; });
    std::iter_swap(present.begin(), largest);
    std::mt19937 random{std::random_device{}()};
    std::shuffle(present.begin() + 1, present.end(), random);
    present.resize(*sample);
    return present;
}

struct Fetched {
    int good = 0;
    const ListedObject* largest = nullptr;
    FetchResult largestFetch;
};

Fetched FetchObjects(const ServerAddress& server, const std::vector<ListedObject*>& chosen,
                     const fs::path& work, Report& report, bool quiet) {
    Fetched fetched;
    std::uintmax_t totalBytes = 0, doneBytes = 0;
    for (const ListedObject* object : chosen)
        totalBytes += static_cast<std::uintmax_t>(object->bytes);
    Progress progress(!quiet);
    int reported = 0;
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        progress.Update("fetching", i, chosen.size(), doneBytes, totalBytes);
        ListedObject& object = *chosen[i];
        FileEntry entry = MakeFileEntry(object.url, std::string());
        entry.strIncomingPath = (work / ("object-" + std::to_string(i))).string();
        const FetchResult result = FetchFile(server, object.url, entry.strIncomingPath);
        doneBytes += static_cast<std::uintmax_t>(object.bytes);
        std::string problem;
        if (!result.downloaded)
            problem = "the download failed; fix: see the engine's log (--log FILE)";
        else if (!CheckObjectMd5(entry))
            problem = "its bytes do not have the digest in its name (players see error 108); "
                      "fix: publish again, and serve the files unchanged";
        if (problem.empty()) {
            ++fetched.good;
            if (!fetched.largest || object.bytes > fetched.largest->bytes) {
                fetched.largest = &object;
                fetched.largestFetch = result;
            }
        } else if (reported++ < kMaxObjectLines) {
            report.Line("FAIL", "object " + object.url + ": " + problem);
        }
        std::error_code ignored;
        fs::remove(entry.strIncomingPath, ignored);
    }
    progress.Finish();
    if (reported > kMaxObjectLines)
        report.Line("FAIL", "... and " + std::to_string(reported - kMaxObjectLines) +
                                " more objects with a failed download or a wrong digest");
    return fetched;
}

// A segment of a large file, or a resumed one, starts mid-file.
void CheckRange(const ServerAddress& server, const ListedObject& object, Report& report,
                HeadStats& heads) {
    const std::int64_t from = object.bytes / 2;
    const HeadAnswer answer = AskHead(server, object.url, from);
    heads.Record(answer, object.url);
    const std::string asked = "Range bytes=" + std::to_string(from) + "- of " + object.url;
    if (!answer.accepted) {
        const Refusal refusal = ExplainRefusal(answer);
        report.Fail(asked + ": " + refusal.why +
                        "; the installer cannot fetch files above 409,600 bytes or resume",
                    refusal.fix);
    } else if (answer.head.status == 206 && answer.head.rangeStart == from) {
        report.Line("ok", asked + ": 206 with the right Content-Range");
    } else {
        report.Line("WARN", asked + ": answered with status " + std::to_string(answer.head.status) +
                                (answer.head.status == 206 ? " from another byte" : "") +
                                "; the installer falls back to one connection per file; fix: "
                                "let the server honour byte ranges");
    }
}

} // namespace

int Check(const CheckOptions& options) {
    ServerAddress server;
    std::string error;
    if (!ParseServerUrl(options.url, server, error)) {
        std::fprintf(stderr, "felto-publish check: %s\n", error.c_str());
        return kBadCommandLine;
    }
    const int builtPort = GetEngineSettings().port;
    UseServerPort(server);
    WorkDir work;
    SetLogPath(options.logPath.empty() ? (work.path / "FeltoInstaller.log").string()
                                       : options.logPath);
    StopCopyingLogToStandardError();

    std::printf("checking %s on port %d as the installer asks it\n", server.baseUrl.c_str(),
                server.port);
    Report report;
    if (server.baseUrl != strServerUrl || server.port != builtPort)
        report.Line("info", "this build's installer asks " + strServerUrl + " on port " +
                                std::to_string(builtPort) +
                                ", not this server; an installer for this one is built with "
                                "-DFELTO_SERVER_URL=" +
                                server.baseUrl + ":" + std::to_string(server.port));
    HeadStats heads;
    const std::optional<SigningKey> key = CheckingKey(options, work.path);
    if (key)
        std::printf("checking signatures with the release key\n");
    std::map<std::string, std::string> chunkLists;
    std::vector<ListedObject> objects = CheckManifests(server, work.path, key, report, heads, chunkLists);
    if (options.servedManifests) {
        for (const std::string& urlPath : {strManifestUrl, strManifestUrlX64}) {
            const std::string name = urlPath.substr(urlPath.rfind('/') + 1);
            if (fs::is_regular_file(work.path / name))
                (*options.servedManifests)[name] = FileMd5((work.path / name).string());
        }
    }
    std::vector<ListedObject*> present =
        AskEveryObject(server, objects, report, heads, options.quiet);
    const std::vector<ListedObject*> chosen = ChooseSample(present, options.sample);
    const Fetched fetched = FetchObjects(server, chosen, work.path, report, options.quiet);
    if (!objects.empty())
        report.Line(fetched.good == static_cast<int>(chosen.size()) &&
                            present.size() == objects.size()
                        ? "ok"
                        : "FAIL",
                    std::to_string(present.size()) + " of " + std::to_string(objects.size()) +
                        " objects present, " + std::to_string(fetched.good) + " of " +
                        std::to_string(chosen.size()) + " fetched with their digest" +
                        (chosen.size() < present.size() ? " (a sample)" : ""));

    constexpr std::size_t kChunkListSample = 3;
    CheckChunkLists(server, chunkLists, options.sample ? kChunkListSample : chunkLists.size(),
                    work.path, report);

    const ListedObject* largest = nullptr;
    for (const ListedObject* object : present) {
        if (!largest || object->bytes > largest->bytes)
            largest = object;
    }
    if (largest && largest->bytes >= 2)
        CheckRange(server, *largest, report, heads);
    else if (!present.empty())
        report.Line("WARN", "Range not checked: no object of two bytes or more");
    ReportHeads(heads, report);
    if (fetched.largest) {
        const FetchResult& fetch = fetched.largestFetch;
        char speed[96];
        std::snprintf(speed, sizeof speed, "%" PRId64 " bytes in %.3f s (%s/s)", fetch.bytes,
                      fetch.seconds,
                      Megabytes(fetch.seconds > 0 ? fetch.bytes / fetch.seconds : 0).c_str());
        report.Line("info", "largest object " + fetched.largest->url + ": " + speed);
    }
    std::printf(report.failed() ? "verdict: the installer will NOT work against this server\n"
                                : "verdict: the installer will work against this server\n");
    return report.failed() ? kFailed : kPublished;
}

// Fall-back servers must serve the tree the first one serves: the same manifests (the objects
// they name are content-addressed, and each check fetched them from its own server).
static bool SameTree(const std::vector<std::string>& urls,
                     const std::vector<std::map<std::string, std::string>>& served) {
    bool same = true;
    for (const std::string& urlPath : {strManifestUrl, strManifestUrlX64}) {
        const std::string name = urlPath.substr(urlPath.rfind('/') + 1);
        std::string seen;
        for (std::size_t i = 0; i < urls.size(); ++i) {
            const auto found = served[i].find(name);
            seen += "\n    " + urls[i] + ": " +
                    (found == served[i].end() ? std::string("not fetched") : found->second);
        }
        const auto first = served[0].find(name);
        bool alike = first != served[0].end();
        for (const auto& manifests : served) {
            const auto found = manifests.find(name);
            alike = alike && found != manifests.end() && found->second == first->second;
        }
        if (alike) {
            std::printf("ok    %s: the same on all %zu servers\n", name.c_str(), urls.size());
        } else {
            std::printf("FAIL  %s: not the same on every server; fix: publish the same tree to "
                        "every server (copy the origin's tree to the others)%s\n",
                        name.c_str(), seen.c_str());
            same = false;
        }
    }
    return same;
}

int CheckCommand(const std::vector<std::string>& args) {
    CheckOptions options;
    std::vector<std::string> urls;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--release-key" && hasValue) {
            options.releaseKeyPath = args[++i];
        } else if (arg == "--log" && hasValue) {
            options.logPath = args[++i];
        } else if (arg == "--sample" && hasValue) {
            const std::string& value = args[++i];
            if (value.empty() || value.size() > 9 ||
                value.find_first_not_of("0123456789") != std::string::npos ||
                std::stoul(value) == 0) {
                std::fprintf(stderr,
                             "felto-publish check: --sample needs a count of 1 or more, not '%s'\n",
                             value.c_str());
                return kBadCommandLine;
            }
            options.sample = std::stoul(value);
        } else if (!urls.empty() && arg.rfind("http://", 0) == 0) {
            urls.push_back(arg); // a fall-back server
        } else if (const auto status = OtherSubcommandWord("check", arg, !urls.empty())) {
            return *status;
        } else {
            urls.push_back(arg);
        }
    }
    if (urls.empty()) {
        std::fprintf(stderr, "felto-publish check: the server's URL is missing\n%s", UsageText());
        return kBadCommandLine;
    }
    if (urls.size() == 1) {
        options.url = urls[0];
        return Check(options);
    }
    std::vector<std::map<std::string, std::string>> served(urls.size());
    int status = kPublished;
    for (std::size_t i = 0; i < urls.size(); ++i) {
        options.url = urls[i];
        options.servedManifests = &served[i];
        const int one = Check(options);
        if (one == kBadCommandLine)
            return one;
        if (one != kPublished)
            status = kFailed;
        std::printf("\n");
    }
    std::printf("comparing the %zu servers\n", urls.size());
    if (!SameTree(urls, served))
        status = kFailed;
    std::printf(status == kPublished
                    ? "verdict: every server serves the same working tree\n"
                    : "verdict: the installer will NOT work against every server\n");
    return status;
}

} // namespace publish
