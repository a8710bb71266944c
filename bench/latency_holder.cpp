// Gives a private network namespace a real round trip where the kernel has no netem: every
// packet that netfilter queues here (iptables ... -j NFQUEUE) is held for a fixed time and then
// let go, in the order it came. Queue the packets leaving on loopback and each one is held once,
// so the round trip is twice the hold.
//
// Usage: latency_holder QUEUE HOLD_MS
// Prints "ready" once bound to the queue; on SIGTERM or SIGINT it lets every held packet go and
// prints how many it held.

extern "C" {
#include <libnetfilter_queue/libnetfilter_queue.h>
}

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/netfilter.h>
#include <linux/netlink.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

using Nanoseconds = std::int64_t;

Nanoseconds Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return Nanoseconds(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct HeldPacket {
    std::uint32_t id;
    Nanoseconds due;
};

struct Holder {
    Nanoseconds hold = 0;
    std::deque<HeldPacket> packets;
    std::uint64_t held = 0;
};

int OnPacket(nfq_q_handle*, nfgenmsg*, nfq_data* data, void* context) {
    auto* holder = static_cast<Holder*>(context);
    const nfqnl_msg_packet_hdr* header = nfq_get_msg_packet_hdr(data);
    if (header == nullptr)
        return 0;
    holder->packets.push_back({ntohl(header->packet_id), Now() + holder->hold});
    ++holder->held;
    return 0;
}

// Lets go every packet whose time has come (or all of them). Packet ids grow in queue order, so
// one verdict for the last due id covers every one before it.
bool Release(nfq_q_handle* queue, Holder& holder, bool all) {
    const Nanoseconds now = Now();
    bool any = false;
    std::uint32_t last = 0;
    while (!holder.packets.empty() && (all || holder.packets.front().due <= now)) {
        last = holder.packets.front().id;
        holder.packets.pop_front();
        any = true;
    }
    if (any && nfq_set_verdict_batch(queue, last, NF_ACCEPT) < 0) {
        std::fprintf(stderr, "latency_holder: verdict failed: %s\n", std::strerror(errno));
        return false;
    }
    return true;
}

int Fail(const char* what) {
    std::fprintf(stderr, "latency_holder: %s: %s\n", what, std::strerror(errno));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: latency_holder QUEUE HOLD_MS\n");
        return 2;
    }
    char* end = nullptr;
    const long queueNumber = std::strtol(argv[1], &end, 10);
    if (*end != '\0' || queueNumber < 0 || queueNumber > 65535) {
        std::fprintf(stderr, "latency_holder: QUEUE must be 0 to 65535, not %s\n", argv[1]);
        return 2;
    }
    const double holdMs = std::strtod(argv[2], &end);
    if (*end != '\0' || !(holdMs >= 0 && holdMs <= 10000)) {
        std::fprintf(stderr, "latency_holder: HOLD_MS must be 0 to 10000, not %s\n", argv[2]);
        return 2;
    }
    Holder holder;
    holder.hold = Nanoseconds(std::llround(holdMs * 1e6));

    nfq_handle* handle = nfq_open();
    if (handle == nullptr)
        return Fail("cannot open netfilter queue");
    nfq_q_handle* queue =
        nfq_create_queue(handle, static_cast<std::uint16_t>(queueNumber), &OnPacket, &holder);
    if (queue == nullptr)
        return Fail("cannot bind the queue");
    // Only the packet id comes up to us; the payload stays in the kernel. Large offloaded
    // packets are queued whole rather than cut up for us.
    if (nfq_set_mode(queue, NFQNL_COPY_META, 0) < 0)
        return Fail("cannot set the copy mode");
    nfq_set_queue_flags(queue, NFQA_CFG_F_GSO, NFQA_CFG_F_GSO);
    // A long hold at full speed keeps many packets waiting: room for them, and a socket buffer
    // that does not drop the kernel's messages about them.
    if (nfq_set_queue_maxlen(queue, 65536) < 0)
        return Fail("cannot set the queue length");
    nfnl_rcvbufsiz(nfq_nfnlh(handle), 64u << 20);
    const int fd = nfq_fd(handle);
    const int on = 1;
    setsockopt(fd, SOL_NETLINK, NETLINK_NO_ENOBUFS, &on, sizeof on);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);

    alignas(nlmsghdr) static char buffer[256 * 1024];
    int status = 0;
    while (!stopRequested) {
        timespec wait{1, 0};
        if (!holder.packets.empty()) {
            const Nanoseconds left = std::max<Nanoseconds>(0, holder.packets.front().due - Now());
            wait = {time_t(left / 1000000000), long(left % 1000000000)};
        }
        pollfd readable{fd, POLLIN, 0};
        const int ready = ppoll(&readable, 1, &wait, nullptr);
        if (ready < 0 && errno != EINTR) {
            status = Fail("poll failed");
            break;
        }
        if (ready > 0) {
            for (;;) {
                const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
                if (got < 0) {
                    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                        break;
                    if (errno == ENOBUFS)
                        continue;
                    status = Fail("cannot read the queue");
                    break;
                }
                nfq_handle_packet(handle, buffer, static_cast<int>(got));
            }
            if (status != 0)
                break;
        }
        if (!Release(queue, holder, false)) {
            status = 1;
            break;
        }
    }
    Release(queue, holder, true);
    nfq_destroy_queue(queue);
    nfq_close(handle);
    std::fprintf(stderr, "latency_holder: held %llu packets\n",
                 static_cast<unsigned long long>(holder.held));
    return status;
}
