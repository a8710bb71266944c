#include "tests/support/text_checks.h"

int CountOf(const std::string& text, const std::string& what) {
    int count = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A timestamp "2026-3-7,09:05:02" and its blank at `at`; its length, or 0.
std::size_t TimestampAt(const std::string& text, std::size_t at) {
    std::size_t i = at;
    for (char separator : {'-', '-', ','}) {
        std::size_t digits = i;
        while (i < text.size() && IsDigit(text[i]))
            ++i;
        if (i == digits || i >= text.size() || text[i] != separator)
            return 0;
        ++i;
    }
    for (int field = 0; field < 3; ++field, i += 3) {
        if (i + 3 > text.size() || !IsDigit(text[i]) || !IsDigit(text[i + 1]) ||
            text[i + 2] != (field < 2 ? ':' : ' '))
            return 0;
    }
    return i - at;
}

} // namespace

std::vector<std::string> LogMessages(const std::string& log) {
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at < log.size(); at = log.find('\n', at) + 1) {
        if (TimestampAt(log, at) > 0)
            starts.push_back(at);
        if (log.find('\n', at) == std::string::npos)
            break;
    }
    std::vector<std::string> messages;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        std::size_t begin = starts[i] + TimestampAt(log, starts[i]);
        std::size_t end = i + 1 < starts.size() ? starts[i + 1] : log.size();
        std::string message = log.substr(begin, end - begin);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
            message.pop_back();
        messages.push_back(message);
    }
    return messages;
}

int FindMessage(const std::vector<std::string>& messages, const std::string& start, int from) {
    for (std::size_t i = static_cast<std::size_t>(from); i < messages.size(); ++i)
        if (messages[i].compare(0, start.size(), start) == 0)
            return static_cast<int>(i);
    return -1;
}
