#include "net/connection_pool.h"

#include "net/deal_socket.h"
#include "net/engine_settings.h"
#include "support/log.h"

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

namespace {

struct Pool {
    std::mutex mutex;
    std::map<std::string, std::vector<platform::Socket>> idle; // by "host:port"
    std::atomic<int> opened{0};
};

// Never destroyed: a download thread may still give a connection back while the process ends.
Pool& ThePool() {
    static Pool* pool = new Pool;
    return *pool;
}

std::string Key(const std::string& host, int port) {
    return host + ":" + std::to_string(port);
}

} // namespace

PooledConnection TakeConnection(const std::string& host, int port) {
    Pool& pool = ThePool();
    PooledConnection connection;
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        std::vector<platform::Socket>& idle = pool.idle[Key(host, port)];
        while (!idle.empty()) {
            platform::Socket socket = idle.back();
            idle.pop_back();
            if (!platform::HasPendingInput(socket)) {
                connection.socket = socket;
                connection.reused = true;
                return connection;
            }
            platform::CloseSocket(socket);
        }
    }
    WriteLog("正在建立连接");
    connection.socket = ConnectServer(host, port);
    if (connection.socket != platform::kInvalidSocket)
        ++pool.opened;
    return connection;
}

void GiveBackConnection(const std::string& host, int port, platform::Socket socket) {
    Pool& pool = ThePool();
    const std::size_t most = static_cast<std::size_t>(GetEngineSettings().parallelDownloads) * 3;
    {
        std::lock_guard<std::mutex> lock(pool.mutex);
        std::vector<platform::Socket>& idle = pool.idle[Key(host, port)];
        if (idle.size() < most) {
            idle.push_back(socket);
            return;
        }
    }
    platform::CloseSocket(socket);
}

int ConnectionsOpened() {
    return ThePool().opened.load();
}
