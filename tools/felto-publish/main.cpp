// felto-publish: turns a folder of game files into the tree a static HTTP server serves to the
// installer (launcher manifests and content-addressed objects).

#include "options.h"
#include "publish.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    publish::PublishOptions options;
    std::string error;
    switch (
        publish::ParseArguments(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
    case publish::ParseResult::Help:
        std::fputs(publish::UsageText(), stdout);
        return publish::kPublished;
    case publish::ParseResult::Error:
        std::fprintf(stderr, "felto-publish: %s\n%s", error.c_str(), publish::UsageText());
        return publish::kBadCommandLine;
    case publish::ParseResult::Run:
        break;
    }
    try {
        return publish::Publish(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "felto-publish: error: %s\n", e.what());
        return publish::kFailed;
    }
}
