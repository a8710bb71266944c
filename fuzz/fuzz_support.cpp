#include "fuzz/fuzz_support.h"

#include "support/log.h"

#include <cstdio>
#include <cstdlib>
#include <sanitizer/common_interface_defs.h>
#include <unistd.h>

const std::string& ScratchDir() {
    static const std::string dir = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/felto-fuzz-XXXXXX";
        if (!::mkdtemp(&pattern[0]))
            Broken("a scratch folder can be made");
        return pattern;
    }();
    return dir;
}

void QuietLog() {
    SetLogPath(ScratchDir() + "/FeltoInstaller.log");
}

void ForgetLog() {
    std::FILE* stream = GetLogStream();
    if (stream == stderr)
        return;
    std::fflush(stream);
    if (::ftruncate(::fileno(stream), 0) == 0)
        std::rewind(stream);
}

void WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
        Broken("the scratch file can be written", path);
}

void Broken(const char* what, const std::string& detail) {
    // Through the sanitizer's report channel: a run started with -close_fd_mask=2 (which keeps
    // the installer's log lines off the terminal) still shows why it stopped.
    std::string text = std::string("broken promise: ") + what + " [";
    for (std::size_t i = 0; i < detail.size() && i < 300; ++i) {
        unsigned char c = static_cast<unsigned char>(detail[i]);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, c >= 0x20 && c < 0x7f ? "%c" : "\\x%02x", c);
        text += escaped;
    }
    text += "]";
    __sanitizer_report_error_summary(text.c_str());
    std::abort();
}
