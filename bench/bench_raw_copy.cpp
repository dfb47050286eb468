// The wire-speed reference of bench_fleet.sh: copies one plain image to every sensor the way an
// upgrade does (download frame, acknowledgement, the bytes, acknowledgement) and nothing else,
// to all sensors at once or N at a time. Prints each sensor's milliseconds, then the run's.
//     bench_raw_copy [--streams N] IMAGE[:FORMAT] ADDRESS...
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace
{

using bench_clock = std::chrono::steady_clock;
const int sensor_port = 50661;
const size_t frame_size = 50;
// A hang guard for every send and receive: a healthy sensor answers long before.
const int io_timeout_s = 30;

long ms_since(bench_clock::time_point start)
{
    return long(
        std::chrono::duration_cast<std::chrono::milliseconds>(bench_clock::now() - start).count());
}

bool send_all(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

bool acknowledged(int fd)
{
    char reply[4];
    size_t got = 0;
    while (got < sizeof reply) {
        const ssize_t read = recv(fd, reply + got, sizeof reply - got, 0);
        if (read <= 0)
            return false;
        got += size_t(read);
    }
    return memcmp(reply, "0000", sizeof reply) == 0;
}

int connect_to(const std::string &address)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(sensor_port);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const timeval timeout{io_timeout_s, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (inet_pton(AF_INET, address.c_str(), &to.sin_addr) != 1 ||
        connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Milliseconds from dialling to the image's acknowledgement, or -1 when the copy failed.
long copy_to(const std::string &address, const std::string &frame, const std::vector<char> &image)
{
    const bench_clock::time_point start = bench_clock::now();
    const int fd = connect_to(address);
    if (fd < 0)
        return -1;
    const bool copied = send_all(fd, frame.data(), frame.size()) && acknowledged(fd) &&
                        send_all(fd, image.data(), image.size()) && acknowledged(fd);
    close(fd);
    return copied ? ms_since(start) : -1;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool limited = argc > 2 && std::string(argv[1]) == "--streams";
    const int first = limited ? 3 : 1;
    const size_t streams = limited ? size_t(std::max(1, atoi(argv[2]))) : size_t(argc);
    if (argc - first < 2) {
        fprintf(stderr, "usage: bench_raw_copy [--streams N] IMAGE[:FORMAT] ADDRESS...\n");
        return 2;
    }
    std::string path = argv[first];
    std::string format = "0";
    const size_t colon = path.rfind(':');
    if (colon != std::string::npos) {
        format = path.substr(colon + 1);
        path.erase(colon);
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        return 2;
    }
    const std::vector<char> image{std::istreambuf_iterator<char>(file), {}};
    std::string frame = "download " + path.substr(path.rfind('/') + 1) + ' ' + format + ' ' +
                        std::to_string(image.size());
    frame.resize(frame_size, '\0');

    const std::vector<std::string> addresses(argv + first + 1, argv + argc);
    std::vector<long> took(addresses.size());
    const bench_clock::time_point start = bench_clock::now();
    // Each stream copies to the next sensor not yet taken, in order.
    std::atomic<size_t> next{0};
    std::vector<std::thread> links;
    for (size_t i = 0; i < std::min(streams, addresses.size()); ++i)
        links.emplace_back([&] {
            for (size_t at; (at = next++) < addresses.size();)
                took[at] = copy_to(addresses[at], frame, image);
        });
    for (std::thread &link : links)
        link.join();
    const long total = ms_since(start);
    int failed = 0;
    for (size_t i = 0; i < addresses.size(); ++i) {
        printf("%s %ld\n", addresses[i].c_str(), took[i]);
        failed += took[i] < 0;
    }
    printf("total %ld\n", total);
    return failed ? 1 : 0;
}
