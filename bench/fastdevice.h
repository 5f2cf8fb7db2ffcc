#pragma once
// A minimal programming device and the protocol's stop-and-wait bound, in
// plain C++ on POSIX sockets (no Qt), for the programming benchmark.
//
// The device serves one connection after another on a loopback port and
// answers at once: 0x0001 with a version text, 0x0100 with "accepted",
// every 0x0101 with "taken" (a 7-byte frame) and, once the announced size
// has arrived, 0x0102 and 0x0103. It runs in child processes of its own
// (one per connection), so that it never shares an event loop or a lock
// with what it measures.
//
// The bound client sends the same exchange as a program must: version,
// start, then each 1031-byte chunk frame (sequence byte and 1024 image
// bytes), waiting for its acknowledgement before the next, then waits for
// 0x0103.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace fastdev {

inline std::vector<std::uint8_t> frame(int cmd, const std::uint8_t* payload, std::size_t size)
{
    std::vector<std::uint8_t> f;
    f.reserve(size + 6);
    const std::size_t length = size + 2;
    f.push_back(0x68);
    f.push_back(std::uint8_t(length >> 8));
    f.push_back(std::uint8_t(length));
    f.push_back(std::uint8_t(cmd >> 8));
    f.push_back(std::uint8_t(cmd));
    f.insert(f.end(), payload, payload + size);
    unsigned sum = 0;
    for (std::uint8_t b : f)
        sum += b;
    f.push_back(std::uint8_t(sum));
    return f;
}

inline bool writeAll(int fd, const void* data, std::size_t size)
{
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

inline bool readAll(int fd, void* data, std::size_t size)
{
    auto* p = static_cast<std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

// Reads one frame (header, payload, checksum); returns its command or -1.
inline int readFrame(int fd, std::vector<std::uint8_t>& payload)
{
    std::uint8_t head[5];
    if (!readAll(fd, head, 5) || head[0] != 0x68)
        return -1;
    const std::size_t length = std::size_t(head[1]) << 8 | head[2];
    if (length < 2)
        return -1;
    payload.resize(length - 2 + 1);
    if (!readAll(fd, payload.data(), payload.size()))
        return -1;
    payload.pop_back(); // checksum (the link is loopback)
    return int(head[3]) << 8 | head[4];
}

inline void noDelay(int fd)
{
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

inline void serve(int fd)
{
    noDelay(fd);
    static const char version[] = "v1.3.0 fast";
    const std::uint8_t yes = 1;
    const std::vector<std::uint8_t> ack = frame(0x0101, &yes, 1);
    std::vector<std::uint8_t> payload;
    std::uint64_t announced = 0;
    std::uint64_t received = 0;
    for (;;) {
        const int cmd = readFrame(fd, payload);
        if (cmd < 0)
            return;
        if (cmd == 0x0001) {
            const auto reply = frame(0x0001, reinterpret_cast<const std::uint8_t*>(version),
                                     sizeof version - 1);
            writeAll(fd, reply.data(), reply.size());
        } else if (cmd == 0x0100 && payload.size() == 5) {
            announced = std::uint64_t(payload[1]) << 24 | std::uint64_t(payload[2]) << 16 |
                        std::uint64_t(payload[3]) << 8 | payload[4];
            received = 0;
            const auto reply = frame(0x0100, &yes, 1);
            writeAll(fd, reply.data(), reply.size());
        } else if (cmd == 0x0101 && !payload.empty()) {
            received += payload.size() - 1;
            if (received < announced) {
                writeAll(fd, ack.data(), ack.size());
            } else {
                // The last acknowledgement and the end in one write.
                std::vector<std::uint8_t> end = ack;
                const auto installing = frame(0x0102, nullptr, 0);
                const auto finished = frame(0x0103, nullptr, 0);
                end.insert(end.end(), installing.begin(), installing.end());
                end.insert(end.end(), finished.begin(), finished.end());
                writeAll(fd, end.data(), end.size());
            }
        }
    }
}

// The device in a child process. Call before any threads exist (before the
// application object). port() is 0 when it could not start.
class Device
{
public:
    Device()
    {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener, 4) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // One process per connection: a connection held open (the
            // page's) never keeps another (the bound's) waiting.
            ::signal(SIGCHLD, SIG_IGN);
            for (;;) {
                const int fd = ::accept(listener, nullptr, nullptr);
                if (fd < 0)
                    _exit(0);
                if (::fork() == 0) {
                    ::close(listener);
                    serve(fd);
                    _exit(0);
                }
                ::close(fd);
            }
        }
        ::close(listener);
        if (pid_ > 0)
            port_ = ntohs(address.sin_port);
    }
    ~Device()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    std::uint16_t port() const { return port_; }

private:
    pid_t pid_ = -1;
    std::uint16_t port_ = 0;
};

inline int connectTo(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

// The stop-and-wait bound: sends `image` as the protocol demands and
// returns true when the device has finished. The image is in memory, the
// frames are built in one reused buffer.
inline bool boundRun(std::uint16_t port, const std::vector<std::uint8_t>& image)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return false;
    std::vector<std::uint8_t> payload;
    bool ok = false;
    do {
        const std::uint8_t type = 1;
        auto request = frame(0x0001, &type, 1);
        if (!writeAll(fd, request.data(), request.size()) || readFrame(fd, payload) != 0x0001)
            break;
        const std::uint32_t size = std::uint32_t(image.size());
        const std::uint8_t start[5] = {0, std::uint8_t(size >> 24), std::uint8_t(size >> 16),
                                       std::uint8_t(size >> 8), std::uint8_t(size)};
        request = frame(0x0100, start, 5);
        if (!writeAll(fd, request.data(), request.size()) || readFrame(fd, payload) != 0x0100)
            break;
        std::uint8_t chunk[1031];
        std::uint8_t sequence = 0;
        std::size_t done = 0;
        bool sent = true;
        while (done < image.size() && sent) {
            const std::size_t n = std::min<std::size_t>(1024, image.size() - done);
            const std::size_t length = n + 1 + 2;
            chunk[0] = 0x68;
            chunk[1] = std::uint8_t(length >> 8);
            chunk[2] = std::uint8_t(length);
            chunk[3] = 0x01;
            chunk[4] = 0x01;
            chunk[5] = sequence++;
            std::memcpy(chunk + 6, image.data() + done, n);
            unsigned sum = 0;
            for (std::size_t i = 0; i < n + 6; ++i)
                sum += chunk[i];
            chunk[n + 6] = std::uint8_t(sum);
            sent = writeAll(fd, chunk, n + 7) && readFrame(fd, payload) == 0x0101 &&
                   !payload.empty() && payload[0] != 0;
            done += n;
        }
        if (!sent)
            break;
        int cmd = 0;
        while (cmd != 0x0103 && cmd >= 0)
            cmd = readFrame(fd, payload);
        ok = cmd == 0x0103;
    } while (false);
    ::close(fd);
    return ok;
}

} // namespace fastdev
