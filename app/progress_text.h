#pragma once
// The one status line that the progress window and the terminal line show, in the player's
// terms, in the program's own text encoding (code page 936 on Windows, UTF-8 elsewhere).

#include "support/progress.h"

#include <cstdint>
#include <string>

std::string ProgressStatusText(const ProgressView& view);
// "512 B", "40 KB", "3.4 MB", "1.25 GB".
std::string ByteCountText(std::int64_t bytes);

// The window's title and button, and the question before a cancel.
extern const char* const kProgressTitle;
extern const char* const kCancelButtonText;
extern const char* const kCancelQuestion;
