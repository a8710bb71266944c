#include "tests/support/edge_server.h"

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr char kVarnish[] = "/usr/sbin/varnishd";
constexpr char kSquid[] = "/usr/sbin/squid";
constexpr char kTrafficServer[] = "/usr/bin/traffic_server";

// Every edge passes what it does not hold to one origin on 127.0.0.1.
class OriginEdge : public WebServer {
  public:
    explicit OriginEdge(int originPort) : originPort_(originPort) {}

  protected:
    const int originPort_;
};

// Varnish with its built-in rules: a ranged request is a miss for the whole object, which is
// then cached and cut to every later range.
class VarnishEdge : public OriginEdge {
  public:
    using OriginEdge::OriginEdge;

  protected:
    std::vector<std::string> Configure(const std::string& prefix, const std::string&,
                                       int port) override {
        // "-j none": no jail, so the test's folders need no other owner.
        return {
            kVarnish, "-F",
            "-j",     "none",
            "-a",     "127.0.0.1:" + std::to_string(port),
            "-b",     "127.0.0.1:" + std::to_string(originPort_),
            "-n",     prefix + "/varnish",
            "-s",     "malloc,256m",
        };
    }
};

// Squid passes ranged requests through uncached unless it may fetch whole objects for them
// (range_offset_limit none) and they fit its cache; the installer's size probe reads only the
// head, so the fetch must go on without its client (quick_abort_min -1).
class SquidEdge : public OriginEdge {
  public:
    using OriginEdge::OriginEdge;

  protected:
    std::vector<std::string> Configure(const std::string& prefix, const std::string&,
                                       int port) override {
        const std::string text = R"(http_port 127.0.0.1:@PORT@ accel defaultsite=127.0.0.1 no-vhost
cache_peer 127.0.0.1 parent @ORIGIN@ 0 no-query no-digest originserver name=origin
cache_peer_access origin allow all
http_access allow all
cache_mem 256 MB
maximum_object_size_in_memory 256 MB
maximum_object_size 256 MB
range_offset_limit none
quick_abort_min -1 KB
pid_filename @PREFIX@/squid.pid
access_log stdio:@PREFIX@/access.log
cache_log @PREFIX@/error.log
cache_store_log none
coredump_dir @PREFIX@
)";
        WriteFile(prefix + "/squid.conf", Fill(text, {{"@PREFIX@", prefix},
                                                      {"@PORT@", std::to_string(port)},
                                                      {"@ORIGIN@", std::to_string(originPort_)}}));
        // Squid writes its logs as its own user.
        fs::permissions(prefix, fs::perms::all);
        return {kSquid, "-N", "-f", prefix + "/squid.conf"};
    }
};

// Traffic Server caches ranged requests only through its cache_range_requests plugin, which
// keeps each range as an object of its own: the installer asks the same ranges on every run.
class TrafficServerEdge : public OriginEdge {
  public:
    using OriginEdge::OriginEdge;

  protected:
    std::vector<std::string> Configure(const std::string& prefix, const std::string&,
                                       int port) override {
        for (const char* folder : {"etc", "var", "run", "log", "cache"})
            fs::create_directories(prefix + "/" + folder);
        const Marks marks = {{"@PREFIX@", prefix},
                             {"@PORT@", std::to_string(port)},
                             {"@ORIGIN@", std::to_string(originPort_)}};
        WriteFile(prefix + "/runroot.yaml", Fill(R"(prefix: @PREFIX@
exec_prefix: /usr
bindir: /usr/bin
sbindir: /usr/sbin
sysconfdir: @PREFIX@/etc
datadir: /usr/share/trafficserver
includedir: /usr/include
libdir: /usr/lib/trafficserver
libexecdir: /usr/lib/trafficserver/modules
localstatedir: @PREFIX@/var
runtimedir: @PREFIX@/run
logdir: @PREFIX@/log
cachedir: @PREFIX@/cache
)",
                                                 marks));
        // "#-1": stay the user that starts it. The port opens once the cache is ready.
        WriteFile(prefix + "/etc/records.config",
                  Fill(R"(CONFIG proxy.config.http.server_ports STRING 127.0.0.1:@PORT@
CONFIG proxy.config.admin.user_id STRING #-1
CONFIG proxy.config.url_remap.remap_required INT 1
CONFIG proxy.config.http.wait_for_cache INT 1
CONFIG proxy.config.http.cache.required_headers INT 0
CONFIG proxy.config.http.background_fill_completed_threshold FLOAT 0.0
CONFIG proxy.config.http.background_fill_active_timeout INT 0
CONFIG proxy.config.log.logfile_dir STRING @PREFIX@/log
)",
                       marks));
        WriteFile(prefix + "/etc/remap.config",
                  Fill("map http://127.0.0.1/ http://127.0.0.1:@ORIGIN@/ "
                       "@plugin=cache_range_requests.so\n",
                       marks));
        WriteFile(prefix + "/etc/storage.config", prefix + "/cache 64M\n");
        WriteFile(prefix + "/etc/ip_allow.yaml", R"(ip_allow:
  - apply: in
    ip_addrs: 127.0.0.1
    action: allow
    methods: ALL
  - apply: out
    ip_addrs: 127.0.0.1
    action: allow
    methods: ALL
)");
        for (const char* empty :
             {"plugin.config", "cache.config", "hosting.config", "volume.config", "parent.config",
              "socks.config", "splitdns.config", "ssl_multicert.config", "sni.yaml",
              "strategies.yaml", "logging.yaml"})
            WriteFile(prefix + "/etc/" + empty, "");
        return {kTrafficServer, "--run-root=" + prefix + "/runroot.yaml"};
    }
};

template <typename Edge> std::unique_ptr<WebServer> Make(int originPort) {
    return std::make_unique<Edge>(originPort);
}

// What the tests need to know of each kind, in one row.
struct EdgeRow {
    EdgeKind kind;
    const char* name;
    const char* binary;
    std::unique_ptr<WebServer> (*make)(int originPort);
};

constexpr EdgeRow kEdges[] = {
    {EdgeKind::Varnish, "varnish", kVarnish, Make<VarnishEdge>},
    {EdgeKind::Squid, "squid", kSquid, Make<SquidEdge>},
    {EdgeKind::TrafficServer, "trafficserver", kTrafficServer, Make<TrafficServerEdge>},
};

const EdgeRow& RowOf(EdgeKind kind) {
    return *std::find_if(std::begin(kEdges), std::end(kEdges),
                         [kind](const EdgeRow& row) { return row.kind == kind; });
}

} // namespace

const char* EdgeName(EdgeKind kind) {
    return RowOf(kind).name;
}

std::unique_ptr<WebServer> MakeEdgeServer(EdgeKind kind, int originPort) {
    return RowOf(kind).make(originPort);
}

std::string WhyEdgeCannotRun(EdgeKind kind) {
    const char* binary = RowOf(kind).binary;
    if (!fs::exists(binary))
        return std::string(binary) + " is not installed";
    if (kind == EdgeKind::Squid && (::geteuid() != 0 || !::getpwnam("proxy")))
        return "Squid serves as the user proxy, which needs real root and that user";
    return std::string();
}
