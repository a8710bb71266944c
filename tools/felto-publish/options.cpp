#include "options.h"

#include "publish.h"

#include <cctype>
#include <cstdio>
#include <utility>

namespace publish {

namespace {

bool ParseByteCount(const std::string& text, std::uintmax_t& value) {
    if (text.empty() || text.size() > 19)
        return false;
    value = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        value = value * 10 + static_cast<std::uintmax_t>(c - '0');
    }
    return true;
}

constexpr std::uint64_t kLongestExpiryDays = 36525;

ParseResult Refuse(std::string& error, std::string why) {
    error = std::move(why);
    return ParseResult::Error;
}

} // namespace

bool ParseExpiryDays(const std::string& text, std::uint64_t& days) {
    std::uintmax_t value = 0;
    if (!ParseByteCount(text, value) || value > kLongestExpiryDays)
        return false;
    days = value;
    return true;
}

const char* UsageText() {
    return "usage: felto-publish --input DIR [--input-x64 DIR] --output DIR\n"
           "                     [--pack GLOB]... [--pack-over BYTES] [--7z PROGRAM]\n"
           "                     [--sign-key FILE [--expires-in DAYS] [--key-mismatch-ok]]\n"
           "                     [--allow-incomplete] [--quiet]\n"
           "                     [--chunks] [--chunks-over BYTES]\n"
           "       felto-publish check URL [URL...] [--sample N] [--release-key PEM] [--log FILE] "
           "[--quiet]\n"
           "       felto-publish prune [--output] DIR [--dry-run]\n"
           "       felto-publish resign [--output] DIR --sign-key FILE [--expires-in DAYS]\n"
           "                     [--key-mismatch-ok]\n"
           "       felto-publish report ACCESS_LOG... [--since YYYY-MM-DD] [--csv] [--plot PNG]\n"
           "                     [--path REPORT_PATH]\n"
           "\n"
           "Turns a game folder into the tree a static HTTP server serves to the installer:\n"
           "  OUTPUT/microclient/download/launcher_manifest.js      (32-bit, from --input)\n"
           "  OUTPUT/microclient/download/launcher_manifest_x64.js  (--input-x64, else --input)\n"
           "  OUTPUT/microclient/objects/<ab>/<md5>                 (content-addressed objects)\n"
           "\n"
           "  --pack GLOB        deliver matching files as 7-Zip archives; a GLOB without '/'\n"
           "                     matches the file name, one with '/' the whole relative path\n"
           "  --pack-over BYTES  deliver files larger than BYTES as 7-Zip archives\n"
           "  --7z PROGRAM       the archiver to pack with (default: 7z)\n"
           "  --sign-key FILE    sign both manifests with this ECDSA P-256 private key (PEM):\n"
           "                     writes <manifest>.sig beside each, for installers built with\n"
           "                     FELTO_RELEASE_KEY; each publish signs a higher release number\n"
           "  --expires-in DAYS  signatures expire DAYS days from now (default: never)\n"
           "  --key-mismatch-ok  sign with a key other than the release key this felto-publish\n"
           "                     was built with (FELTO_RELEASE_KEY); refused otherwise\n"
           "A tree once signed is published with --sign-key only: a manifest beside an old\n"
           "signature would be refused by every installer built with the key.\n"
           "  --allow-incomplete publish a game without Felto.exe, or with packed files but\n"
           "                     without both archivers (plantform/x86/7z.exe and\n"
           "                     plantform/x64/7z.exe); refused otherwise\n"
           "  --quiet            no progress line\n"
           "  --chunks           also store unpacked files above 4 MiB as content-defined chunks\n"
           "                     with a chunk list each, named after the size in the manifest\n"
           "                     line; the whole objects stay as they are\n"
           "  --chunks-over BYTES  --chunks, for files larger than BYTES\n"
           "Files under plantform/ (the installer's archiver) are listed first and never packed.\n"
           "\n"
           "check asks the server at URL (http://host[:port], what the installer is built with as\n"
           "FELTO_SERVER_URL) for both manifests and their objects, exactly as the installer\n"
           "does, and says whether the installer will work against it (exit status 0) or not\n"
           "(1). --sample N fetches only N objects: the largest and others at random.\n"
           "Several URLs (a server and its FELTO_FALLBACK_SERVERS) are each checked, then\n"
           "compared: they must serve the same manifests.\n"
           "Signatures are checked with --release-key (a public key, PEM), else with the key\n"
           "this build carries (FELTO_RELEASE_KEY), else not at all.\n"
           "check also shows each signature's release number and expiry: WARN within 7 days of\n"
           "it, FAIL once it has passed. It fetches the chunk lists the manifests name (three\n"
           "with --sample) and three chunks of each: WARN when one is missing or damaged.\n"
           "resign signs both manifests of DIR again with a new release number (and expiry),\n"
           "objects untouched: for signatures about to expire.\n"
           "prune removes the objects that neither manifest names, by itself or through a chunk\n"
           "list; --dry-run only lists them. It removes nothing (exit status 3) while a manifest,\n"
           "or an object, chunk list or chunk one names, is missing or damaged.\n"
           "report reads access logs in the combined format (nginx, Apache; plain or gzip) and\n"
           "sums up the installers' reports (FELTO_REPORT_PATH, default microclient/report) per\n"
           "installer version and release; --plot draws the daily success rate with gnuplot.\n"
           "Exit status: 0 published, 1 failed, 2 bad command line, 3 input refused (nothing\n"
           "written).\n";
}

std::optional<int> OtherSubcommandWord(const char* command, const std::string& word,
                                       bool argumentTaken) {
    if (word == "--help" || word == "-h") {
        std::fputs(UsageText(), stdout);
        return kPublished;
    }
    if (word.rfind("-", 0) != 0 && !argumentTaken)
        return std::nullopt;
    std::fprintf(stderr, "felto-publish %s: unexpected '%s'\n%s", command, word.c_str(),
                 UsageText());
    return kBadCommandLine;
}

ParseResult ParseArguments(const std::vector<std::string>& args, PublishOptions& options,
                           std::string& error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (std::size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "--help" || name == "-h")
            return ParseResult::Help;
        if (name == "--quiet") {
            options.quiet = true;
            continue;
        }
        if (name == "--allow-incomplete") {
            options.allowIncomplete = true;
            continue;
        }
        if (name == "--key-mismatch-ok") {
            options.keyMismatchOk = true;
            continue;
        }
        if (name == "--chunks") {
            options.chunks = true;
            continue;
        }
        static const char* const kValueOptions[] = {"--input",    "--input-x64",  "--output",
                                                    "--pack",     "--pack-over",  "--7z",
                                                    "--sign-key", "--expires-in", "--chunks-over"};
        bool known = false;
        for (const char* option : kValueOptions)
            known = known || name == option;
        if (!known)
            return Refuse(error, "unknown option '" + name + "'");
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return Refuse(error, name + " needs a value");
        }
        if (name == "--input") {
            options.input = value;
        } else if (name == "--input-x64") {
            options.inputX64 = value;
        } else if (name == "--output") {
            options.output = value;
        } else if (name == "--pack") {
            if (value.empty())
                return Refuse(error, "--pack needs a non-empty pattern");
            options.packGlobs.push_back(value);
        } else if (name == "--pack-over") {
            std::uintmax_t bytes = 0;
            if (!ParseByteCount(value, bytes))
                return Refuse(error, "--pack-over needs a number of bytes, not '" + value + "'");
            options.packOver = bytes;
        } else if (name == "--chunks-over") {
            if (!ParseByteCount(value, options.chunksOver))
                return Refuse(error, "--chunks-over needs a number of bytes, not '" + value + "'");
            options.chunks = true;
        } else if (name == "--sign-key") {
            options.signKey = value;
        } else if (name == "--expires-in") {
            std::uint64_t days = 0;
            if (!ParseExpiryDays(value, days))
                return Refuse(error, "--expires-in needs a number of days up to 36525, not '" +
                                         value + "'");
            options.expiresInDays = days;
        } else {
            options.archiver = value;
        }
    }
    if (options.input.empty() || options.output.empty())
        return Refuse(error, "--input and --output are required");
    if (options.expiresInDays && options.signKey.empty())
        return Refuse(error, "--expires-in needs --sign-key");
    if (options.keyMismatchOk && options.signKey.empty())
        return Refuse(error, "--key-mismatch-ok needs --sign-key");
    return ParseResult::Run;
}

} // namespace publish
