// Plain C UDP loops on loopback, the references for bench/udp.tcl: a flooding sender, a recvfrom loop fed by it,
// and a sendto loop.
//
//   bench_udp_flood flood PORT COUNT   sends COUNT 64-byte datagrams to 127.0.0.1:PORT as fast as it can;
//                                      prints "sent SECONDS"
//   bench_udp_flood recv COUNT         a recvfrom loop on a socket of its own, fed by a flooding child
//                                      process; prints "sent received SECONDS" (SECONDS: the sender's)
//   bench_udp_flood sendloop COUNT     a sendto loop to a socket nobody reads; prints "sent SECONDS"
// Without a mode (as bench/run.sh runs every benchmark executable) it says so and exits.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr size_t kPayload = 64;

double now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

// Sends `count` datagrams to `port`; returns the seconds it took.
double flood(int port, long count) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = loopback(port);
    uint8_t payload[kPayload] = {};
    double t0 = now();
    for (long i = 0; i < count; ++i) {
        payload[0] = static_cast<uint8_t>(i);
        ::sendto(fd, payload, sizeof payload, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    double t = now() - t0;
    ::close(fd);
    return t;
}

int bound_socket(int* port) {
    int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = loopback(0);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return fd;
}

// Receives from a flooding child until the socket stays quiet for 300 ms.
int recv_loop(long count) {
    int port = 0;
    int fd = bound_socket(&port);
    int pipefd[2];
    if (::pipe(pipefd) != 0) return 1;
    pid_t child = ::fork();
    if (child == 0) {
        double t = flood(port, count);
        (void)::write(pipefd[1], &t, sizeof t);
        _exit(0);
    }
    uint8_t in[2048];
    long received = 0;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, 300) == 1) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        if (::recvfrom(fd, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&peer), &len) > 0) ++received;
    }
    double t = 0;
    (void)::read(pipefd[0], &t, sizeof t);
    ::waitpid(child, nullptr, 0);
    std::printf("%ld %ld %.6f\n", count, received, t);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "flood") == 0) {
        long count = std::atol(argv[3]);
        std::printf("%ld %.6f\n", count, flood(std::atoi(argv[2]), count));
        return 0;
    }
    if (argc >= 3 && std::strcmp(argv[1], "recv") == 0) return recv_loop(std::atol(argv[2]));
    if (argc >= 3 && std::strcmp(argv[1], "sendloop") == 0) {
        int port = 0;
        int fd = bound_socket(&port);
        long count = std::atol(argv[2]);
        std::printf("%ld %.6f\n", count, flood(port, count));
        ::close(fd);
        return 0;
    }
    std::printf("bench_udp_flood: the reference loops of bench/udp.tcl (run that driver)\n");
    return 0;
}
