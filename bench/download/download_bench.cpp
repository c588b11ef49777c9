// Times a download of one large file from a local server into memory through FetchPage
// (the request helper of page fetches: settings, credentials, THttpClient::Get into a
// string stream, the body handed out as a string) against `curl -s -o /dev/null` of the
// same URL. Each runs in its own child process, so that its wall time and peak resident
// memory (ru_maxrss from wait4) are its own; the rounds alternate and the best of each is
// reported with the ratios.
//
//     download_bench URL SIZE [ROUNDS]
#include "http/http_client.h"
#include "platform/registry.h"
#include "queue/request_helpers.h"
#include "util/library_path.h"
#include "util/settings.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct Run {
    double seconds = 0;
    long peakKb = 0;
    int status = 0;
};

// The child's side of a Fetchora run: one FetchPage, then a check of the size. The
// settings and servers.txt live in a folder of the child's own.
int fetchWithClient(const char* url, long long expected) {
    char folder[] = "/tmp/download_bench.XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        return 2;
    fetchora::registry::setHiveFolder(std::string(folder) + "/registry");
    fetchora::setLibraryFolderOverride(folder);
    fetchora::setSettingsKeyPath(fetchora::settings::kKeyPath);
    int argc = 1;
    char name[] = "download_bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    fetchora::THttpClient client("BenchClient");
    std::string body;
    try {
        body = fetchora::FetchPage(url, client);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "FetchPage failed: %s\n", error.what());
        return 2;
    }
    std::error_code removed;
    std::filesystem::remove_all(folder, removed);
    if (static_cast<long long>(body.size()) != expected) {
        std::fprintf(stderr, "received %lld bytes, expected %lld (status %d)\n",
                     static_cast<long long>(body.size()), expected, client.StatusCode());
        return 3;
    }
    return 0;
}

Run runChild(const std::vector<std::string>& command) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const auto& part : command)
            argv.push_back(const_cast<char*>(part.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Run run;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKb = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && std::strcmp(argv[1], "--fetch") == 0)
        return fetchWithClient(argv[2], std::atoll(argv[3]));
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s URL SIZE [ROUNDS]\n", argv[0]);
        return 1;
    }
    const std::string url = argv[1];
    const long long size = std::atoll(argv[2]);
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    const std::string self = "/proc/self/exe";
    char exe[4096] = {};
    const ssize_t length = readlink(self.c_str(), exe, sizeof exe - 1);
    if (length <= 0)
        return 1;

    Run bestOurs{1e9, 0, 0};
    Run bestCurl{1e9, 0, 0};
    for (int round = 0; round < rounds; ++round) {
        const Run ours = runChild({exe, "--fetch", url, std::to_string(size), "x"});
        const Run curl = runChild({"curl", "-s", "-o", "/dev/null", url});
        if (ours.status != 0 || curl.status != 0) {
            std::fprintf(stderr, "a run failed (fetchora %d, curl %d)\n", ours.status, curl.status);
            return 1;
        }
        std::printf("round %d: fetchora %.3f s %ld KB, curl %.3f s %ld KB\n", round + 1,
                    ours.seconds, ours.peakKb, curl.seconds, curl.peakKb);
        if (ours.seconds < bestOurs.seconds)
            bestOurs.seconds = ours.seconds;
        if (curl.seconds < bestCurl.seconds)
            bestCurl.seconds = curl.seconds;
        bestOurs.peakKb = std::max(bestOurs.peakKb, ours.peakKb);
        bestCurl.peakKb = std::max(bestCurl.peakKb, curl.peakKb);
    }
    const double ratio = bestOurs.seconds / bestCurl.seconds;
    const double sizeMb = static_cast<double>(size) / (1024.0 * 1024.0);
    const double peakMb = static_cast<double>(bestOurs.peakKb) / 1024.0;
    const double memoryLimitMb = 1.1 * sizeMb + 32;
    std::printf("file          %.1f MB\n", sizeMb);
    std::printf("fetchora      %.3f s (best of %d), peak %.1f MB\n", bestOurs.seconds, rounds,
                peakMb);
    std::printf("curl          %.3f s (best of %d), peak %.1f MB\n", bestCurl.seconds, rounds,
                static_cast<double>(bestCurl.peakKb) / 1024.0);
    std::printf("time ratio    %.2f (target at most 1.25)\n", ratio);
    std::printf("peak memory   %.1f MB (target at most %.1f MB)\n", peakMb, memoryLimitMb);
    const bool met = ratio <= 1.25 && peakMb <= memoryLimitMb;
    std::printf("%s\n", met ? "targets met" : "targets NOT met");
    return met ? 0 : 4;
}
