#pragma once
// The one lock on a published tree: every command that writes into it or removes from it holds
// it for its whole run, so a manifest is never written while objects are being removed.

#include <filesystem>

namespace publish {

class OutputLock {
  public:
    // Throws PublishError when another felto-publish holds the tree.
    explicit OutputLock(const std::filesystem::path& output);
    ~OutputLock();
    OutputLock(const OutputLock&) = delete;
    OutputLock& operator=(const OutputLock&) = delete;

  private:
    int fd_ = -1;
};

} // namespace publish
