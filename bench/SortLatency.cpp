// Arrival to removal: starts `brevalo-cli sort` on a prepared world, delivers messages
// into the inbox at a steady rate and times, for each, the moment it was renamed into
// new/ until the moment the sorter removed it from the inbox.
//
// Usage: sort_latency CLI COUNT RATE   (BREVALO_HOME and MAILDIR name the world)

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <poll.h>
#include <string>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: sort_latency CLI COUNT RATE\n");
        return 64;
    }
    const char* cli = argv[1];
    int count = std::atoi(argv[2]);
    double rate = std::atof(argv[3]);
    std::string root = std::getenv("MAILDIR") ? std::getenv("MAILDIR") : "";
    if (root.empty() || count < 1 || rate <= 0) {
        std::fprintf(stderr, "sort_latency: set MAILDIR and give COUNT and RATE\n");
        return 64;
    }
    int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    inotify_add_watch(watch, (root + "/new").c_str(), IN_DELETE | IN_MOVED_FROM);
    inotify_add_watch(watch, (root + "/cur").c_str(), IN_DELETE | IN_MOVED_FROM);

    pid_t sorter = fork();
    if (sorter == 0) {
        std::freopen("/dev/null", "w", stderr);
        execl(cli, cli, "sort", static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // let it register

    std::map<std::string, Clock::time_point> arrived;
    std::vector<double> latencies;
    auto drain = [&] {
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            ssize_t n = read(watch, buffer, sizeof buffer);
            if (n <= 0)
                return;
            auto now = Clock::now();
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                std::string name = event->len ? event->name : "";
                std::string base = name.substr(0, name.find(':'));
                auto found = arrived.find(base);
                if (found != arrived.end()) {
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(now - found->second).count());
                    arrived.erase(found);
                }
                p += sizeof(inotify_event) + event->len;
            }
        }
    };
    auto interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / rate));
    auto next = Clock::now();
    for (int i = 0; i < count; ++i) {
        std::string name = "latency" + std::to_string(i) + ".bench";
        std::string tmp = root + "/tmp/" + name;
        {
            std::ofstream out(tmp);
            out << "From: Billing <billing@example.org>\nTo: sam@home.example\nSubject: Invoice "
                << i << "\nMessage-ID: <latency-" << i
                << "@example.org>\n\nPlease pay the invoice: the amount due is 12.00.\n";
        }
        std::rename(tmp.c_str(), (root + "/new/" + name).c_str());
        arrived[name] = Clock::now();
        drain();
        next += interval;
        // Wait for the next delivery while taking every removal as it happens.
        for (auto now = Clock::now(); now < next; now = Clock::now()) {
            pollfd fd{watch, POLLIN, 0};
            int left = static_cast<int>(
                std::chrono::duration_cast<std::chrono::microseconds>(next - now).count());
            poll(&fd, 1, left / 1000);
            drain();
            if (left < 1000)
                std::this_thread::sleep_until(next);
        }
    }
    auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!arrived.empty() && Clock::now() < deadline) {
        pollfd fd{watch, POLLIN, 0};
        poll(&fd, 1, 100);
        drain();
    }
    kill(sorter, SIGTERM);
    waitpid(sorter, nullptr, 0);
    if (latencies.empty()) {
        std::fprintf(stderr, "sort_latency: no message left the inbox\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) {
        return latencies[std::min(
            latencies.size() - 1,
            static_cast<std::size_t>(q * static_cast<double>(latencies.size())))];
    };
    std::printf("arrival to removal over %zu of %d messages at %.0f/s: median %.2f ms, "
                "p99 %.2f ms, max %.2f ms; %zu not removed\n",
                latencies.size(), count, rate, at(0.5), at(0.99), latencies.back(), arrived.size());
    return 0;
}
