// The transfer-run benchmark program. "generate" writes the served files, "transfer" is
// one transfer run of a toolbar window offscreen (the measured child), and "compare"
// times and measures that child against wget and curl on the same files, checks every
// file the run wrote byte for byte and prints the medians against the targets.
#include "bench_support.h"
#include "dialogs/download_options_form.h"
#include "platform/qt/desktop.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "queue/download_list.h"
#include "queue/exception_list.h"
#include "toolbar/fetchora_form.h"
#include "util/library_path.h"

#include <QApplication>
#include <QDialog>
#include <QLineEdit>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace fetchora::bench;

constexpr int kSmallFiles = 1000;
constexpr int kSmallMin = 1024;
constexpr int kSmallMax = 50 * 1024;
constexpr int64_t kBigSize = int64_t{256} * 1024 * 1024;
constexpr unsigned kSeed = 20240517;

constexpr double kSmallTarget = 1.5;  // at most this times wget's time
constexpr double kBigTarget = 1.3;    // at most this times curl's time
constexpr double kMemoryTarget = 2.2; // peak memory at most this times the big file

// ---- generate -------------------------------------------------------------------------

// Random bytes from one generator, eight at a time.
void fillRandom(std::mt19937_64& random, char* data, size_t size) {
    size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const uint64_t word = random();
        std::memcpy(data + i, &word, 8);
    }
    if (i < size) {
        const uint64_t word = random();
        std::memcpy(data + i, &word, size - i);
    }
}

int generate(const fs::path& docroot) {
    std::mt19937_64 random(kSeed);
    std::uniform_int_distribution<int> size(kSmallMin, kSmallMax);
    fs::create_directories(docroot / "small");
    fs::create_directories(docroot / "big");
    std::string data;
    for (int i = 0; i < kSmallFiles; ++i) {
        data.resize(static_cast<size_t>(size(random)));
        fillRandom(random, data.data(), data.size());
        char name[32];
        std::snprintf(name, sizeof name, "f%04d.bin", i);
        writeBytes(docroot / "small" / name, data);
    }

    std::ofstream out(docroot / "big" / "big.bin", std::ios::binary | std::ios::trunc);
    data.resize(size_t{1} << 20);
    for (int64_t written = 0; written < kBigSize; written += static_cast<int64_t>(data.size())) {
        fillRandom(random, data.data(), data.size());
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    if (!out)
        fail("cannot write the big file");
    return 0;
}

// ---- transfer (the measured child) ----------------------------------------------------

// The manifest has one line per file, "URL TAB size"; the queue gets the same files with
// their names, nothing received yet.
std::string queueFromManifest(const std::string& manifest, int& entries) {
    std::istringstream lines(manifest);
    std::string line;
    std::string queue;
    entries = 0;
    while (std::getline(lines, line)) {
        if (line.empty())
            continue;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            fail("manifest line without a size: " + line);
        const std::string url = line.substr(0, tab);
        const std::string name = url.substr(url.rfind('/') + 1);
        queue += url + "\t" + name + "\t0\t" + line.substr(tab + 1) + "\r\n";
        ++entries;
    }
    return queue;
}

void quietMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    (void)type;
    (void)context;
    if (message.contains(QStringLiteral("propagateSizeHints")))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

int transfer(const std::string& manifestPath, const std::string& libraryFolder,
             const std::string& destination) {
    using namespace fetchora;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr) {
        const std::string runtime = libraryFolder + "/runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
    // The offscreen platform's remark about size hints says nothing about the run.
    qInstallMessageHandler(quietMessages);

    fs::create_directories(libraryFolder + "/registry");
    registry::setHiveFolder(libraryFolder + "/registry");
    setLibraryFolderOverride(libraryFolder);
    int entries = 0;
    writeBytes(libraryFolder + "/downloads.txt",
               queueFromManifest(readText(manifestPath), entries));

    int argc = 1;
    char name[] = "run_bench";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);

    // No person answers: every message box is a fault of the run, written to stderr and
    // answered Cancel (so the error question lets the run go on).
    int messages = 0;
    ui::Hooks hooks;
    hooks.messageBox = [&messages](const ui::MessageRequest& request) {
        ++messages;
        std::fprintf(stderr, "run_bench: message box: %s\n", request.text.c_str());
        return ui::MessageResult::Cancel;
    };
    hooks.beep = [] {};
    hooks.openAddress = [](const std::string&) {};
    hooks.pickFolder = [](const std::string&, const std::string&) -> std::optional<std::string> {
        return std::nullopt;
    };
    ui::setHooks(hooks);

    bool asked = false;
    ui::setModalHook([&](QDialog& dialog) {
        auto* options = dynamic_cast<TDownloadOptionsForm*>(&dialog);
        if (options == nullptr)
            return static_cast<int>(QDialog::Rejected);
        asked = true;
        options->DestEdit->setText(ui::toQString(destination));
        options->Button1Click();
        return options->result();
    });

    TFetchoraForm form;
    form.show();
    if (form.downloads().count() != entries) {
        std::fprintf(stderr, "run_bench: the window loaded %d of %d entries\n",
                     form.downloads().count(), entries);
        return 1;
    }
    try {
        form.StartBtnClick();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "run_bench: the run ended with an error: %s\n", error.what());
        return 1;
    }
    if (!asked) {
        std::fprintf(stderr, "run_bench: the run did not ask for the destination folder\n");
        return 1;
    }
    const std::string left = readText(libraryFolder + "/downloads.txt");
    if (form.downloads().count() != 0 || !left.empty()) {
        std::fprintf(stderr, "run_bench: %d entries left in the queue after the run\n",
                     form.downloads().count());
        // The failed requests, as the run recorded them.
        const std::vector<std::string>& errors = ExceptionList();
        for (size_t i = 0; i < errors.size() && i < 5; ++i)
            std::fprintf(stderr, "run_bench: %s\n", errors[i].c_str());
        return 1;
    }
    return messages == 0 ? 0 : 1;
}

// ---- compare --------------------------------------------------------------------------

struct Measure {
    double seconds = 0;
    long maxRssKb = 0;
    bool ok = false;
};

// The measuring launcher lies beside this program.
std::string launcherPath() {
    return (selfPath().parent_path() / "run_bench_launch").string();
}

// Runs the command through the launcher, which times it, takes its peak resident size
// from wait4 and stops it after timeoutSeconds.
Measure runChild(const std::vector<std::string>& command, const fs::path& resultFile,
                 int timeoutSeconds) {
    // What earlier runs left to be written back is written now, untimed, so that no run
    // pays for the one before it.
    ::sync();
    std::vector<std::string> args = {launcherPath(), resultFile.string(),
                                     std::to_string(timeoutSeconds)};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    Measure measure;
    fs::remove(resultFile);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
    if (spawned != 0) {
        std::fprintf(stderr, "run_bench: cannot start %s: %s\n", argv[0], std::strerror(spawned));
        return measure;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::ifstream in(resultFile);
    int ok = 0;
    if (!(in >> measure.seconds >> measure.maxRssKb >> ok)) {
        std::fprintf(stderr, "run_bench: the launcher left no result for %s\n", command[0].c_str());
        return measure;
    }
    measure.ok = ok == 1;
    return measure;
}

struct Served {
    std::string url;
    fs::path path;
    int64_t size = 0;
};

std::vector<Served> servedFiles(const fs::path& folder, const std::string& baseURL) {
    std::vector<Served> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        Served served;
        served.path = entry.path();
        served.size = static_cast<int64_t>(entry.file_size());
        served.url =
            baseURL + "/" + folder.filename().string() + "/" + entry.path().filename().string();
        files.push_back(served);
    }
    std::sort(files.begin(), files.end(),
              [](const Served& a, const Served& b) { return a.path < b.path; });
    return files;
}

// Byte for byte, in pieces.
bool sameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream fa(a, std::ios::binary);
    std::ifstream fb(b, std::ios::binary);
    if (!fa || !fb)
        return false;
    std::vector<char> ba(1 << 16);
    std::vector<char> bb(1 << 16);
    for (;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        const std::streamsize na = fa.gcount();
        if (na != fb.gcount() || std::memcmp(ba.data(), bb.data(), static_cast<size_t>(na)) != 0)
            return false;
        if (na == 0)
            return fa.eof() && fb.eof();
    }
}

// The number of served files whose copy in folder is missing or differs, and of files
// in folder that were not served (a temporary file left behind, for one).
int countDifferent(const std::vector<Served>& files, const fs::path& folder) {
    int different = 0;
    for (const Served& file : files) {
        if (!sameBytes(file.path, folder / file.path.filename())) {
            if (different < 5)
                std::fprintf(stderr, "run_bench: %s differs from the served file\n",
                             (folder / file.path.filename()).c_str());
            ++different;
        }
    }
    std::error_code error;
    size_t present = 0;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        (void)entry;
        ++present;
    }
    if (present > files.size()) {
        std::fprintf(stderr, "run_bench: %zu files in %s that were not served\n",
                     present - files.size(), folder.c_str());
        different += static_cast<int>(present - files.size());
    }
    return different;
}

void readAll(const std::vector<Served>& files) {
    std::vector<char> buffer(1 << 20);
    for (const Served& file : files) {
        std::ifstream in(file.path, std::ios::binary);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) ||
               in.gcount() > 0) {
        }
    }
}

struct Series {
    std::vector<double> seconds;
    std::vector<long> maxRssKb;
    int failures = 0;

    void add(const Measure& m) {
        if (!m.ok) {
            ++failures;
            return;
        }
        seconds.push_back(m.seconds);
        maxRssKb.push_back(m.maxRssKb);
    }
};

struct Options {
    fs::path docroot;
    std::string baseURL;
    fs::path work;
    int repeat = 3;
    int timeout = 900;
};

// One measurement of our run on the files: a fresh library folder and destination, the
// child timed, the output compared. Outputs stay until the end: on ext4, files deleted
// within the last minutes make every later file creation slower (without a journal, as
// here, the inode allocator steps over recently deleted inodes), which would tax whoever
// runs next.
Measure measureOurs(const Options& options, const std::string& what, int round,
                    const std::vector<Served>& files, int& different) {
    const fs::path base = options.work / ("ours-" + what + "-" + std::to_string(round));
    fs::remove_all(base);
    fs::create_directories(base / "lib");
    fs::create_directories(base / "dest");
    std::string manifest;
    for (const Served& file : files)
        manifest += file.url + "\t" + std::to_string(file.size) + "\n";
    writeBytes(base / "manifest.txt", manifest);
    ::sync();
    const Measure m = runChild({selfPath().string(), "transfer", (base / "manifest.txt").string(),
                                (base / "lib").string(), (base / "dest").string()},
                               base / "result.txt", options.timeout);
    different += countDifferent(files, base / "dest");
    return m;
}

Measure measureWget(const Options& options, int round, const std::vector<Served>& files,
                    int& different) {
    const fs::path base = options.work / ("wget-" + std::to_string(round));
    fs::remove_all(base);
    fs::create_directories(base / "dest");
    std::string urls;
    for (const Served& file : files)
        urls += file.url + "\n";
    writeBytes(base / "urls.txt", urls);
    ::sync();
    const Measure m = runChild({"wget", "-q", "--no-http-keep-alive", "-i",
                                (base / "urls.txt").string(), "-P", (base / "dest").string()},
                               base / "result.txt", options.timeout);
    different += countDifferent(files, base / "dest");
    return m;
}

Measure measureCurl(const Options& options, int round, const Served& file, int& different) {
    const fs::path base = options.work / ("curl-" + std::to_string(round));
    fs::remove_all(base);
    fs::create_directories(base / "dest");
    ::sync();
    const Measure m =
        runChild({"curl", "-s", "-o", (base / "dest" / file.path.filename()).string(), file.url},
                 base / "result.txt", options.timeout);
    different += countDifferent({file}, base / "dest");
    return m;
}

int compare(const Options& options) {
    const std::vector<Served> small = servedFiles(options.docroot / "small", options.baseURL);
    const std::vector<Served> big = servedFiles(options.docroot / "big", options.baseURL);
    if (small.size() != static_cast<size_t>(kSmallFiles) || big.size() != 1)
        fail("the document root does not hold the generated files (run \"generate\" first)");
    int64_t smallBytes = 0;
    for (const Served& file : small)
        smallBytes += file.size;
    fs::create_directories(options.work);

    // Every side reads the served files from the page cache.
    readAll(small);
    readAll(big);

    Series ours[2];
    Series reference[2];
    int oursDifferent[2] = {0, 0};
    int referenceDifferent[2] = {0, 0};
    for (int round = 0; round < options.repeat; ++round) {
        // Alternate who goes first, so neither side always finds the disk busier.
        const bool oursFirst = round % 2 == 0;
        std::printf("round %d of %d ...\n", round + 1, options.repeat);
        std::fflush(stdout);
        for (int pass = 0; pass < 2; ++pass) {
            if ((pass == 0) == oursFirst) {
                ours[0].add(measureOurs(options, "small", round, small, oursDifferent[0]));
                ours[1].add(measureOurs(options, "big", round, big, oursDifferent[1]));
            } else {
                reference[0].add(measureWget(options, round, small, referenceDifferent[0]));
                reference[1].add(measureCurl(options, round, big.front(), referenceDifferent[1]));
            }
        }
    }

    const double oursSmall = median(ours[0].seconds);
    const double wgetSmall = median(reference[0].seconds);
    const double oursBig = median(ours[1].seconds);
    const double curlBig = median(reference[1].seconds);
    const long oursSmallRss = median(ours[0].maxRssKb);
    const long oursBigRss = median(ours[1].maxRssKb);
    const long wgetRss = median(reference[0].maxRssKb);
    const long curlRss = median(reference[1].maxRssKb);
    const double bigMb = static_cast<double>(big.front().size) / (1024.0 * 1024.0);
    const double oursPeakMb = static_cast<double>(std::max(oursSmallRss, oursBigRss)) / 1024.0;
    const double smallRatio = wgetSmall > 0 ? oursSmall / wgetSmall : 0;
    const double bigRatio = curlBig > 0 ? oursBig / curlBig : 0;
    const double memoryRatio = oursPeakMb / bigMb;
    // On a shared machine whole rounds run slow or fast together (disk write-back, the
    // host), so the ratios of each round's own pair are the steadier figure.
    auto pairedRatio = [](const std::vector<double>& mine, const std::vector<double>& theirs) {
        std::vector<double> ratios;
        for (size_t i = 0; i < mine.size() && i < theirs.size(); ++i) {
            if (theirs[i] > 0)
                ratios.push_back(mine[i] / theirs[i]);
        }
        return ratios.empty() ? 0.0 : median(ratios);
    };
    const double smallPaired = pairedRatio(ours[0].seconds, reference[0].seconds);
    const double bigPaired = pairedRatio(ours[1].seconds, reference[1].seconds);

    std::printf("\nTransfer run against wget and curl, nginx on 127.0.0.1, median of %d\n",
                options.repeat);
    std::printf("  small: %d files, %.1f MB in all (1 to 50 KB each)   big: 1 file of %.0f MB\n\n",
                kSmallFiles, static_cast<double>(smallBytes) / (1024.0 * 1024.0), bigMb);
    std::printf("  %-22s %10s %10s %8s %8s  %s\n", "case", "ours s", "ref s", "ratio", "target",
                "");
    std::printf("  %-22s %10.3f %10.3f %8.2f %8.2f  %s\n", "1,000 files vs wget", oursSmall,
                wgetSmall, smallRatio, kSmallTarget, verdict(smallRatio <= kSmallTarget));
    std::printf("  %-22s %10.3f %10.3f %8.2f %8.2f  %s\n", "256 MB file vs curl", oursBig, curlBig,
                bigRatio, kBigTarget, verdict(bigRatio <= kBigTarget));
    std::printf("  median of each round's own ratio: small %.2f (%s), big %.2f (%s)\n", smallPaired,
                verdict(smallPaired <= kSmallTarget), bigPaired, verdict(bigPaired <= kBigTarget));
    std::printf("\n  %-22s %10s %10s\n", "peak memory (MB)", "ours", "ref");
    std::printf("  %-22s %10.1f %10.1f\n", "1,000 files",
                static_cast<double>(oursSmallRss) / 1024.0, static_cast<double>(wgetRss) / 1024.0);
    std::printf("  %-22s %10.1f %10.1f\n", "256 MB file", static_cast<double>(oursBigRss) / 1024.0,
                static_cast<double>(curlRss) / 1024.0);
    std::printf("  ours at most %.2f x the big file (target %.2f x)  %s\n\n", memoryRatio,
                kMemoryTarget, verdict(memoryRatio <= kMemoryTarget));
    std::printf("  every round, seconds: ours small %s | wget %s | ours big %s | curl %s\n",
                list(ours[0].seconds).c_str(), list(reference[0].seconds).c_str(),
                list(ours[1].seconds).c_str(), list(reference[1].seconds).c_str());

    bool sound = true;
    for (int i = 0; i < 2; ++i) {
        if (ours[i].failures != 0 || reference[i].failures != 0)
            sound = false;
    }
    std::printf("  failed runs: ours %d + %d, wget %d, curl %d\n", ours[0].failures,
                ours[1].failures, reference[0].failures, reference[1].failures);
    std::printf("  files differing from the served ones: ours %d + %d, wget %d, curl %d\n",
                oursDifferent[0], oursDifferent[1], referenceDifferent[0], referenceDifferent[1]);
    if (oursDifferent[0] != 0 || oursDifferent[1] != 0 || referenceDifferent[0] != 0 ||
        referenceDifferent[1] != 0)
        sound = false;
    std::printf("  %s\n",
                sound ? "all runs complete, every file identical"
                      : "SOME RUNS FAILED OR FILES DIFFER: the figures above are not valid");
    return sound ? 0 : 1;
}

int usage() {
    std::fprintf(stderr,
                 "usage: run_bench load\n"
                 "       run_bench generate DOCROOT\n"
                 "       run_bench transfer MANIFEST LIBRARY_FOLDER DESTINATION\n"
                 "       run_bench compare DOCROOT BASE_URL WORK_FOLDER [REPEAT [TIMEOUT_S]]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    try {
        // Nothing at all: what loading the program with its libraries costs.
        if (args.size() == 1 && args[0] == "load")
            return 0;
        if (args.size() == 2 && args[0] == "generate")
            return generate(args[1]);
        if (args.size() == 4 && args[0] == "transfer")
            return transfer(args[1], args[2], args[3]);
        if (args.size() >= 4 && args.size() <= 6 && args[0] == "compare") {
            Options options;
            options.docroot = args[1];
            options.baseURL = args[2];
            options.work = args[3];
            if (args.size() >= 5)
                options.repeat = std::max(1, std::atoi(args[4].c_str()));
            if (args.size() >= 6)
                options.timeout = std::max(1, std::atoi(args[5].c_str()));
            return compare(options);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "run_bench: %s\n", error.what());
        return 1;
    }
    return usage();
}
