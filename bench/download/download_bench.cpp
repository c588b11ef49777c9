// Times a download of one large file from a local server into memory through FetchPage
// (the request helper of page fetches: settings, credentials, THttpClient::Get into a
// string stream, the body handed out as a string) against `curl -s -o /dev/null` of the
// same URL, and against curl writing the file to tmpfs (/dev/shm), which like FetchPage
// has to put the whole body into fresh memory. Each runs in its own child process, so
// that its wall time and peak resident memory (ru_maxrss from wait4) are its own. Every
// round runs the three back to back (the order turning from round to round), and the
// ratios are taken within a round: their median and spread (lowest to highest) are
// reported, so that a machine busy with other work shifts both sides of a ratio alike.
// The exit status judges the ratio to curl -o /dev/null and the peak memory.
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

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    return values.size() % 2 != 0 ? values[half] : (values[half - 1] + values[half]) / 2;
}

double lowest(const std::vector<double>& values) {
    return *std::min_element(values.begin(), values.end());
}

double highest(const std::vector<double>& values) {
    return *std::max_element(values.begin(), values.end());
}

Run runChild(const std::vector<std::string>& command) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        argv.reserve(command.size() + 1);
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

    char shmName[] = "/dev/shm/download_bench.XXXXXX";
    const int shmFile = ::mkstemp(shmName);
    if (shmFile < 0) {
        std::fprintf(stderr, "cannot create a file in /dev/shm\n");
        return 1;
    }
    ::close(shmFile);
    const std::string shmPath = shmName;

    std::vector<double> oursSeconds;
    std::vector<double> nullSeconds;
    std::vector<double> shmSeconds;
    std::vector<double> nullRatios;
    std::vector<double> shmRatios;
    long oursPeakKb = 0;
    long curlPeakKb = 0;
    for (int round = 0; round < rounds; ++round) {
        Run ours;
        Run toNull;
        Run toShm;
        const auto runOurs = [&] {
            ours = runChild({exe, "--fetch", url, std::to_string(size), "x"});
        };
        const auto runNull = [&] { toNull = runChild({"curl", "-s", "-o", "/dev/null", url}); };
        const auto runShm = [&] {
            toShm = runChild({"curl", "-s", "-o", shmPath, url});
            ::unlink(shmPath.c_str());
        };
        // Each takes every place in the order in turn.
        switch (round % 3) {
        case 0:
            runOurs();
            runNull();
            runShm();
            break;
        case 1:
            runNull();
            runShm();
            runOurs();
            break;
        default:
            runShm();
            runOurs();
            runNull();
            break;
        }
        if (ours.status != 0 || toNull.status != 0 || toShm.status != 0) {
            std::fprintf(stderr, "a run failed (fetchora %d, curl %d, curl to tmpfs %d)\n",
                         ours.status, toNull.status, toShm.status);
            ::unlink(shmPath.c_str());
            return 1;
        }
        std::printf("round %d: fetchora %.3f s %ld KB, curl %.3f s %ld KB, curl to tmpfs %.3f s\n",
                    round + 1, ours.seconds, ours.peakKb, toNull.seconds, toNull.peakKb,
                    toShm.seconds);
        oursSeconds.push_back(ours.seconds);
        nullSeconds.push_back(toNull.seconds);
        shmSeconds.push_back(toShm.seconds);
        nullRatios.push_back(ours.seconds / toNull.seconds);
        shmRatios.push_back(ours.seconds / toShm.seconds);
        oursPeakKb = std::max(oursPeakKb, ours.peakKb);
        curlPeakKb = std::max(curlPeakKb, toNull.peakKb);
    }
    const double ratio = median(nullRatios);
    const double sizeMb = static_cast<double>(size) / (1024.0 * 1024.0);
    const double peakMb = static_cast<double>(oursPeakKb) / 1024.0;
    const double memoryLimitMb = 1.1 * sizeMb + 32;
    std::printf("file             %.1f MB, %d rounds; times are medians (lowest-highest)\n", sizeMb,
                rounds);
    std::printf("fetchora         %.3f s (%.3f-%.3f), peak %.1f MB\n", median(oursSeconds),
                lowest(oursSeconds), highest(oursSeconds), peakMb);
    std::printf("curl             %.3f s (%.3f-%.3f), peak %.1f MB\n", median(nullSeconds),
                lowest(nullSeconds), highest(nullSeconds),
                static_cast<double>(curlPeakKb) / 1024.0);
    std::printf("curl to tmpfs    %.3f s (%.3f-%.3f)\n", median(shmSeconds), lowest(shmSeconds),
                highest(shmSeconds));
    std::printf("ratio to curl    %.2f (%.2f-%.2f) (target at most 1.25)\n", ratio,
                lowest(nullRatios), highest(nullRatios));
    std::printf("ratio to tmpfs   %.2f (%.2f-%.2f) (for comparison)\n", median(shmRatios),
                lowest(shmRatios), highest(shmRatios));
    std::printf("peak memory      %.1f MB (target at most %.1f MB)\n", peakMb, memoryLimitMb);
    const bool met = ratio <= 1.25 && peakMb <= memoryLimitMb;
    std::printf("%s\n", met ? "targets met" : "targets NOT met");
    return met ? 0 : 4;
}
