// The scale benchmark of the transfer run and the size probe. "generate" writes 20,000
// tiny files and 1,000 small ones; "probe" is one process that probes the size of every
// address of a manifest with one HTTP client (the measured child); "compare" times runs
// of 1,000, 10,000 and 20,000 files (run_bench's transfer child) against wget, the same
// run by host name against the run by address, 1,000 probes by host name against curl
// with all the addresses in one invocation, and the run of one file against wget (the
// start of each side, and of it what loading the program alone costs). Each case runs in
// pairs, the two sides taking turns to go first (three times as many pairs for the cases
// of at most 1,000 files, which are quick and vary most); the figure is the median of
// each pair's own ratio.
#include "bench_support.h"
#include "http/http_client.h"
#include "platform/registry.h"
#include "queue/request_helpers.h"
#include "util/library_path.h"
#include "util/settings.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace fetchora::bench;

constexpr int kTinyFiles = 20000;
constexpr int kTinyMin = 1024;
constexpr int kTinyMax = 2048;
constexpr int kSmallFiles = 1000;
constexpr int kSmallMin = 1024;
constexpr int kSmallMax = 50 * 1024;
constexpr unsigned kSeed = 20261208;

// ---- generate -------------------------------------------------------------------------

void writeFiles(std::mt19937_64& random, const fs::path& folder, const char* pattern, int count,
                int minSize, int maxSize) {
    std::uniform_int_distribution<int> size(minSize, maxSize);
    fs::create_directories(folder);
    std::string data;
    for (int i = 0; i < count; ++i) {
        data.resize(static_cast<size_t>(size(random)));
        for (char& c : data)
            c = static_cast<char>(random());
        char name[32];
        std::snprintf(name, sizeof name, pattern, i);
        writeBytes(folder / name, data);
    }
}

int generate(const fs::path& docroot) {
    std::mt19937_64 random(kSeed);
    writeFiles(random, docroot / "tiny", "t%05d.bin", kTinyFiles, kTinyMin, kTinyMax);
    writeFiles(random, docroot / "small", "f%04d.bin", kSmallFiles, kSmallMin, kSmallMax);
    return 0;
}

// ---- probe (the measured child) -------------------------------------------------------

// Probes every address of the manifest ("URL TAB size" lines) with one client, as the
// toolbar probes the links of a drop; every size must be the served one.
int probe(const std::string& manifestPath, const std::string& libraryFolder) {
    using namespace fetchora;
    fs::create_directories(libraryFolder + "/registry");
    registry::setHiveFolder(libraryFolder + "/registry");
    setLibraryFolderOverride(libraryFolder);
    setSettingsKeyPath(settings::kKeyPath);
    int argc = 1;
    char name[] = "scale_bench";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    THttpClient client("ProbeClient");
    std::istringstream lines(readText(manifestPath));
    std::string line;
    int wrong = 0;
    while (std::getline(lines, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const int64_t size = ProbeSize(line.substr(0, tab), client);
        if (size != std::atoll(line.c_str() + tab + 1)) {
            if (wrong < 5)
                std::fprintf(stderr, "scale_bench: %s probed as %lld\n", line.c_str(),
                             static_cast<long long>(size));
            ++wrong;
        }
    }
    return wrong == 0 ? 0 : 1;
}

// ---- compare --------------------------------------------------------------------------

struct Served {
    std::string name;
    int64_t size = 0;
};

std::vector<Served> servedFiles(const fs::path& folder) {
    std::vector<Served> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file())
            files.push_back(
                {entry.path().filename().string(), static_cast<int64_t>(entry.file_size())});
    }
    std::sort(files.begin(), files.end(),
              [](const Served& a, const Served& b) { return a.name < b.name; });
    return files;
}

struct Options {
    fs::path docroot;
    std::string port;
    fs::path work;
    int rounds = 3;
    int timeout = 900;
    bool quick = false;
};

// The folder of this program, where its fellow programs lie.
std::string selfFolder() {
    return selfPath().parent_path().string();
}

// Runs the command through run_bench's launcher, which times it; its output goes to
// /dev/null. The seconds, or a negative number when the command failed.
double timed(const std::vector<std::string>& command, const fs::path& resultFile,
             int timeoutSeconds) {
    // What earlier runs left to be written back is written now, untimed.
    ::sync();
    std::vector<std::string> args = {selfFolder() + "/run_bench_launch", resultFile.string(),
                                     std::to_string(timeoutSeconds)};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    fs::remove(resultFile);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::fprintf(stderr, "scale_bench: cannot start %s: %s\n", argv[0], std::strerror(spawned));
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::ifstream in(resultFile);
    double seconds = 0;
    long maxRssKb = 0;
    int ok = 0;
    if (!(in >> seconds >> maxRssKb >> ok) || ok != 1) {
        std::fprintf(stderr, "scale_bench: %s failed\n", command[0].c_str());
        return -1;
    }
    return seconds;
}

// The number of served files missing from folder or of another size there.
int countWrong(const std::vector<Served>& files, const fs::path& folder) {
    int wrong = 0;
    for (const Served& file : files) {
        std::error_code error;
        const auto size = fs::file_size(folder / file.name, error);
        if (error || static_cast<int64_t>(size) != file.size)
            ++wrong;
    }
    return wrong;
}

// One side of a case: what it runs, in a folder of its own per run.
struct Side {
    enum class Kind { Transfer, Wget, Probe, CurlHead, Load } kind;
    std::string host;
};

struct Case {
    const char* title;
    const char* folder; // "tiny" or "small"
    int files;
    Side ours;
    Side reference;
    double target;
};

struct Outcome {
    std::vector<double> ours;
    std::vector<double> reference;
    std::vector<double> ratios;
    int failures = 0;
};

double runSide(const Options& options, const Side& side, const std::vector<Served>& files,
               const std::string& folder, const fs::path& base) {
    fs::remove_all(base);
    fs::create_directories(base / "dest");
    const std::string root = "http://" + side.host + ":" + options.port + "/bench/" + folder + "/";
    std::string manifest;
    std::string urls;
    for (const Served& file : files) {
        manifest += root + file.name + "\t" + std::to_string(file.size) + "\n";
        urls += root + file.name + "\n";
    }
    writeBytes(base / "manifest.txt", manifest);
    writeBytes(base / "urls.txt", urls);
    const fs::path result = base / "result.txt";
    double seconds = -1;
    switch (side.kind) {
    case Side::Kind::Transfer:
        fs::create_directories(base / "lib");
        seconds = timed({selfFolder() + "/run_bench", "transfer", (base / "manifest.txt").string(),
                         (base / "lib").string(), (base / "dest").string()},
                        result, options.timeout);
        break;
    case Side::Kind::Wget:
        seconds = timed({"wget", "-q", "--no-http-keep-alive", "-i", (base / "urls.txt").string(),
                         "-P", (base / "dest").string()},
                        result, options.timeout);
        break;
    case Side::Kind::Probe:
        fs::create_directories(base / "lib");
        return timed({selfFolder() + "/scale_bench", "probe", (base / "manifest.txt").string(),
                      (base / "lib").string()},
                     result, options.timeout);
    case Side::Kind::Load:
        return timed({selfFolder() + "/run_bench", "load"}, result, options.timeout);
    case Side::Kind::CurlHead: {
        std::vector<std::string> command = {"curl", "-s", "-I", "--http1.0"};
        for (const Served& file : files)
            command.push_back(root + file.name);
        return timed(command, result, options.timeout);
    }
    }
    if (seconds >= 0 && countWrong(files, base / "dest") != 0) {
        std::fprintf(stderr, "scale_bench: files missing or wrong in %s\n", base.c_str());
        return -1;
    }
    return seconds;
}

// A case of at most 1,000 files takes a fraction of a second a side, and one pair can
// differ from the next by a fifth: it runs three times as many pairs.
constexpr int kSmallCaseFiles = 1000;
int pairsOf(const Options& options, const Case& c) {
    return c.files <= kSmallCaseFiles ? 3 * options.rounds : options.rounds;
}

Outcome runCase(const Options& options, const Case& c, int index) {
    std::vector<Served> files = servedFiles(options.docroot / c.folder);
    if (static_cast<int>(files.size()) < c.files)
        fail("the document root does not hold the generated files (run \"generate\" first)");
    files.resize(static_cast<size_t>(c.files));
    Outcome outcome;
    std::printf("%s ...\n", c.title);
    std::fflush(stdout);
    for (int round = 0; round < pairsOf(options, c); ++round) {
        const fs::path base =
            options.work / ("case" + std::to_string(index) + "-" + std::to_string(round));
        // A B, then B A: neither side always finds the disk busier.
        double ours = 0;
        double reference = 0;
        if (round % 2 == 0) {
            ours = runSide(options, c.ours, files, c.folder, base / "ours");
            reference = runSide(options, c.reference, files, c.folder, base / "reference");
        } else {
            reference = runSide(options, c.reference, files, c.folder, base / "reference");
            ours = runSide(options, c.ours, files, c.folder, base / "ours");
        }
        if (ours < 0 || reference <= 0) {
            ++outcome.failures;
            continue;
        }
        outcome.ours.push_back(ours);
        outcome.reference.push_back(reference);
        outcome.ratios.push_back(ours / reference);
    }
    return outcome;
}

int compare(const Options& options) {
    fs::create_directories(options.work);
    const Side oursByAddress{Side::Kind::Transfer, "127.0.0.1"};
    const Side oursByName{Side::Kind::Transfer, "localhost"};
    const Side wget{Side::Kind::Wget, "127.0.0.1"};
    std::vector<Case> cases = {
        {"1,000 small files vs wget", "small", 1000, oursByAddress, wget, 1.05},
        {"1,000 tiny files vs wget", "tiny", 1000, oursByAddress, wget, 0},
        {"10,000 tiny files vs wget", "tiny", 10000, oursByAddress, wget, 1.2},
        {"20,000 tiny files vs wget", "tiny", 20000, oursByAddress, wget, 1.2},
        {"1,000 small by name vs address", "small", 1000, oursByName, oursByAddress, 1.1},
        {"1,000 probes by name vs curl", "small", 1000, Side{Side::Kind::Probe, "localhost"},
         Side{Side::Kind::CurlHead, "localhost"}, 1.1},
    };
    if (options.quick)
        cases.erase(cases.begin() + 3);
    // The start of each side alone: a window with its fonts and widgets against a
    // command-line tool. What the 1,000 small files cost beyond it is the cost of the
    // files themselves.
    cases.push_back({"1 small file vs wget (start)", "small", 1, oursByAddress, wget, 0});
    // Of that start, what only loading the program and its libraries costs.
    cases.push_back(
        {"loading the program vs wget", "small", 1, Side{Side::Kind::Load, ""}, wget, 0});

    std::vector<Outcome> outcomes;
    for (size_t i = 0; i < cases.size(); ++i)
        outcomes.push_back(runCase(options, cases[i], static_cast<int>(i)));

    bool met = true;
    bool sound = true;
    std::printf("\nScale of the transfer run and the size probe, nginx on loopback, %d pairs "
                "per case of 10,000 files and more, %d per smaller case\n\n",
                options.rounds, 3 * options.rounds);
    std::printf("  %-32s %9s %9s %7s %15s %7s\n", "case", "ours s", "ref s", "ratio", "spread",
                "target");
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const Outcome& o = outcomes[i];
        const double ratio = median(o.ratios);
        const bool caseMet = c.target <= 0 || (!o.ratios.empty() && ratio <= c.target);
        met = met && caseMet;
        sound = sound && o.failures == 0;
        const auto [low, high] =
            o.ratios.empty()
                ? std::pair<double, double>{0, 0}
                : std::pair<double, double>{*std::min_element(o.ratios.begin(), o.ratios.end()),
                                            *std::max_element(o.ratios.begin(), o.ratios.end())};
        char target[16] = "-";
        if (c.target > 0)
            std::snprintf(target, sizeof target, "%.2f", c.target);
        std::printf("  %-32s %9.3f %9.3f %7.2f %7.2f..%-6.2f %7s  %s\n", c.title, median(o.ours),
                    median(o.reference), ratio, low, high, target,
                    c.target > 0 ? verdict(caseMet) : "");
    }
    // The cost of one file in the largest run against the run of 1,000 tiny files.
    const size_t largest = options.quick ? 2 : 3;
    const double perFileSmall = median(outcomes[1].ours) / 1000.0;
    const double perFileLarge =
        median(outcomes[largest].ours) / static_cast<double>(cases[largest].files);
    const double growth = perFileSmall > 0 ? perFileLarge / perFileSmall : 0;
    const bool growthMet = growth > 0 && growth <= 1.2;
    met = met && growthMet;
    std::printf("\n  per file: %.3f ms at 1,000, %.3f ms at %d: %.2f x (target 1.20)  %s\n",
                perFileSmall * 1000, perFileLarge * 1000, cases[largest].files, growth,
                verdict(growthMet));
    // The 1,000 small files less what the same run of one file costs, on each side.
    const Outcome& start = outcomes[outcomes.size() - 2];
    const double oursFiles = median(outcomes[0].ours) - median(start.ours);
    const double wgetFiles = median(outcomes[0].reference) - median(start.reference);
    std::printf("  start (a run of one file): %.1f ms, of which loading the program and its "
                "libraries %.1f ms; wget %.1f ms\n",
                median(start.ours) * 1000, median(outcomes.back().ours) * 1000,
                median(start.reference) * 1000);
    std::printf("  1,000 small files beyond the start: %.3f s, wget %.3f s: %.2f x (no "
                "target)\n",
                oursFiles, wgetFiles, wgetFiles > 0 ? oursFiles / wgetFiles : 0.0);
    std::printf("\n  every pair, seconds (ours/reference):\n");
    for (size_t i = 0; i < cases.size(); ++i)
        std::printf("    %-32s %s | %s\n", cases[i].title, list(outcomes[i].ours).c_str(),
                    list(outcomes[i].reference).c_str());
    if (!sound) {
        std::printf("  SOME RUNS FAILED: the figures above are not valid\n");
        return 1;
    }
    std::printf("  %s\n", met ? "every target met" : "SOME TARGETS MISSED");
    return met ? 0 : 3;
}

int usage() {
    std::fprintf(stderr, "usage: scale_bench generate DOCROOT\n"
                         "       scale_bench probe MANIFEST LIBRARY_FOLDER\n"
                         "       scale_bench compare DOCROOT PORT WORK_FOLDER [PAIRS [TIMEOUT_S "
                         "[quick]]]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() == 2 && args[0] == "generate")
            return generate(args[1]);
        if (args.size() == 3 && args[0] == "probe")
            return probe(args[1], args[2]);
        if (args.size() >= 4 && args.size() <= 7 && args[0] == "compare") {
            Options options;
            options.docroot = args[1];
            options.port = args[2];
            options.work = args[3];
            if (args.size() >= 5)
                options.rounds = std::max(1, std::atoi(args[4].c_str()));
            if (args.size() >= 6)
                options.timeout = std::max(1, std::atoi(args[5].c_str()));
            options.quick = args.size() >= 7 && args[6] == "quick";
            return compare(options);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "scale_bench: %s\n", error.what());
        return 1;
    }
    return usage();
}
