#include "platform/platform.h"

namespace platform {

void ShowMessage(const std::string& text, const std::string& caption) {
    std::string line = "[" + caption + "] " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

void SetMessageOwner(void*) {}

FolderChoice BrowseForFolder(const std::string&, const std::string&, std::string&) {
    return FolderChoice::Cancelled;
}

std::string SystemDriveRoot() {
    return "/";
}

} // namespace platform
