#include "platform/platform.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<bool> progressLineShown{false};
}

const char* StandardErrorLinePrefix() {
    return progressLineShown.load() ? "\r\x1b[K" : "";
}

void NoteProgressLineShown() {
    progressLineShown.store(true);
}

void ShowMessage(const std::string& text, const std::string& caption) {
    std::string line = StandardErrorLinePrefix() + ("[" + caption + "] " + text + "\n");
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
