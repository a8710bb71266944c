// felto-publish: turns a folder of game files into the tree a static HTTP server serves to the
// installer (launcher manifests and content-addressed objects), checks a server that serves it,
// prunes objects no manifest needs any more, signs a published tree again and reads the
// installers' reports back from the servers' access logs.

#include "check.h"
#include "field_report.h"
#include "options.h"
#include "prune.h"
#include "publish.h"
#include "resign.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    const std::string command = args.empty() ? std::string() : args.front();
    publish::PublishOptions options;
    std::string error;
    try {
        if (command == "check")
            return publish::CheckCommand({args.begin() + 1, args.end()});
        if (command == "prune")
            return publish::PruneCommand({args.begin() + 1, args.end()});
        if (command == "report")
            return publish::ReportCommand({args.begin() + 1, args.end()});
        if (command == "resign")
            return publish::ResignCommand({args.begin() + 1, args.end()});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "felto-publish %s: error: %s\n", command.c_str(), e.what());
        return publish::kFailed;
    }
    switch (publish::ParseArguments(args, options, error)) {
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
