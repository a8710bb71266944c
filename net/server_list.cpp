#include "net/server_list.h"

#include "net/engine_settings.h"

#include <atomic>

namespace {
std::atomic<std::size_t> g_preferred{0};
}

std::size_t ServerCount() {
    return 1 + GetEngineSettings().fallbackServers.size();
}

std::string ServerBase(std::size_t index) {
    if (index == 0 || index >= ServerCount())
        return strServerUrl;
    return GetEngineSettings().fallbackServers[index - 1];
}

std::size_t NextServer(std::size_t index) {
    return (index + 1) % ServerCount();
}

std::size_t PreferredServer() {
    std::size_t index = g_preferred.load(std::memory_order_relaxed);
    return index < ServerCount() ? index : 0;
}

void ServerServed(std::size_t index) {
    g_preferred.store(index, std::memory_order_relaxed);
}

bool HasFallbackServers() {
    return !GetEngineSettings().fallbackServers.empty();
}

bool SplitHostPort(const std::string& host, std::string& name, int& port) {
    std::size_t colon = host.rfind(':');
    if (colon == std::string::npos) {
        name = host;
        return true;
    }
    const std::string digits = host.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    long value = 0;
    for (char digit : digits)
        value = value * 10 + (digit - '0');
    if (value < 1 || value > 65535)
        return false;
    name = host.substr(0, colon);
    port = static_cast<int>(value);
    return true;
}
