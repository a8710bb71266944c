#include "scan.h"

#include "manifest/install_path.h"
#include "support/paths.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace fs = std::filesystem;

namespace publish {

namespace {

bool IsInside(const fs::path& path, const fs::path& root) {
    return std::mismatch(root.begin(), root.end(), path.begin(), path.end()).first == root.end();
}

class Scanner {
  public:
    explicit Scanner(fs::path root) : root_(std::move(root)) {}

    ScanResult Run() {
        std::vector<fs::path> open{root_};
        Walk(root_, "", open);
        FindCaseClashes();
        return std::move(result_);
    }

  private:
    void Problem(const std::string& relPath, const std::string& why) {
        result_.problems.push_back(Printable(relPath) + ": " + why);
    }

    // `open` holds the real folders being walked, so a link back to one of them is a loop.
    void Walk(const fs::path& dir, const std::string& prefix, std::vector<fs::path>& open) {
        std::error_code ec;
        fs::directory_iterator it(dir, ec), end;
        if (ec) {
            Problem(prefix.empty() ? "." : prefix, "cannot read the folder: " + ec.message());
            return;
        }
        for (; it != end; it.increment(ec)) {
            if (ec)
                break;
            Visit(it->path(), prefix, open);
        }
        if (ec)
            Problem(prefix.empty() ? "." : prefix, "cannot read the folder: " + ec.message());
    }

    void Visit(const fs::path& path, const std::string& prefix, std::vector<fs::path>& open) {
        const std::string name = path.filename().string();
        const std::string relPath = prefix + name;
        if (std::string why = NameProblem(name); !why.empty()) {
            Problem(relPath, why);
            return;
        }
        std::error_code ec;
        fs::path real = path;
        if (fs::is_symlink(fs::symlink_status(path, ec))) {
            real = fs::canonical(path, ec);
            if (ec) {
                Problem(relPath, "symbolic link that leads nowhere");
                return;
            }
            if (!IsInside(real, root_)) {
                Problem(relPath, "symbolic link to " + Printable(real.string()) +
                                     ", outside the folder being published");
                return;
            }
        }
        fs::file_status status = fs::status(real, ec);
        if (ec) {
            Problem(relPath, "cannot be examined: " + ec.message());
        } else if (fs::is_directory(status)) {
            if (std::find(open.begin(), open.end(), real) != open.end()) {
                Problem(relPath, "symbolic link loop");
                return;
            }
            open.push_back(real);
            Walk(real, relPath + "/", open);
            open.pop_back();
        } else if (fs::is_regular_file(status)) {
            std::uintmax_t size = fs::file_size(real, ec);
            if (ec)
                Problem(relPath, "cannot be examined: " + ec.message());
            else
                Add(relPath, real, size);
        } else {
            Problem(relPath, "neither a file nor a folder");
        }
    }

    void Add(const std::string& relPath, const fs::path& real, std::uintmax_t size) {
        // The installer refuses a manifest that lists any of these.
        if (!IsSafeRelativePath(relPath)) {
            Problem(relPath, "a name Windows keeps for a device");
            return;
        }
        if (IsReservedPath(relPath, "launcher_manifest.js") ||
            IsReservedPath(relPath, "launcher_manifest_x64.js")) {
            Problem(relPath, "a path the installer keeps for its own files");
            return;
        }
        result_.files.push_back({relPath, real, size, std::string()});
    }

    // Windows folds case, so two such files would be installed over one another.
    void FindCaseClashes() {
        std::map<std::string, std::string> seen;
        for (const SourceFile& file : result_.files) {
            auto [it, added] = seen.emplace(FoldPathCase(file.relPath), file.relPath);
            if (!added)
                Problem(file.relPath, "same name as " + Printable(it->second) +
                                          " on Windows, which ignores case");
        }
    }

    fs::path root_;
    ScanResult result_;
};

} // namespace

std::string NameProblem(const std::string& name) {
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '\t')
            return "name holds a tab, which separates the manifest's fields";
        if (c == '\n' || c == '\r')
            return "name holds a line end, which ends a manifest line";
        if (byte < 0x20 || byte == 0x7f)
            return "name holds a control character";
        if (std::string("\\:*?\"<>|").find(c) != std::string::npos)
            return std::string("name holds '") + c + "', which Windows does not allow in names";
    }
    // Windows trims trailing dots and blanks, so "..." or ".. " would name the parent folder;
    // the installer refuses such manifests.
    if (name.find_first_not_of(". ") == std::string::npos &&
        std::count(name.begin(), name.end(), '.') >= 2)
        return "name made of dots, which Windows reads as the parent folder";
    return std::string();
}

std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

ScanResult ScanFolder(const fs::path& root) {
    return Scanner(root).Run();
}

} // namespace publish
