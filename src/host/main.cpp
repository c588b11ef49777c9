// The fetchora program: a browser window that docks the registered toolbar band above its
// page ("fetchora [URL]"), and "fetchora --add URL...", which probes addresses and queues
// them from a terminal, with or without a display.
#include "host/band_library.h"
#include "host/browser_window.h"
#include "http/http_client.h"
#include "platform/files.h"
#include "queue/download_list.h"
#include "queue/exception_list.h"
#include "util/library_path.h"
#include "util/settings.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QIcon>
#include <QUrl>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using fetchora::host::BandLibrary;
using fetchora::host::BrowserWindow;

bool hasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

std::string programFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return ".";
    const std::string path(buffer, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/'));
}

// The folder of the queue file that the bands use: the folder of the first registered
// band library, else of the library installed beside the program. Empty when there is
// none, and the queue then lives beside the program.
std::string bandQueueFolder() {
    std::vector<std::string> problems;
    const auto bands = BandLibrary::registeredBands(problems);
    std::string library =
        bands.empty() ? BandLibrary::installedLibrary(programFolder()) : bands.front().library;
    const size_t slash = library.rfind('/');
    return slash == std::string::npos ? std::string() : library.substr(0, slash);
}

// Probes each address with one HEAD request, as a drop on the toolbar does, and appends
// those with a positive size to the queue file of the bands; the toolbar windows see them
// at their next poll. Returns the number of addresses that were not queued.
int addToQueue(int count, char** urls) {
    using namespace fetchora;
    setSettingsKeyPath(settings::kKeyPath);
    const std::string folder = bandQueueFolder();
    if (!folder.empty())
        setLibraryFolderOverride(folder);
    const std::string listFile = pathInLibraryFolder("downloads.txt");
    TDownloadList queue;
    try {
        if (files::fileExists(listFile))
            queue.LoadFromFile(listFile);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fetchora: %s: %s\n", listFile.c_str(), error.what());
        return count;
    }
    THttpClient client("HttpClient1");
    client.Agent = "Mozilla/3.0 (compatible)";
    int failed = 0;
    for (int i = 0; i < count; ++i) {
        auto entry = std::make_unique<TDownload>();
        const size_t errors = ExceptionList().size();
        if (entry->Probe(urls[i], client)) {
            std::printf("queued %s as %s (%lld bytes)\n", entry->URL.c_str(),
                        entry->FileName.c_str(), static_cast<long long>(entry->FileSize));
            queue.Add(std::move(entry));
        } else {
            std::fprintf(stderr, "fetchora: not queued: %s\n", entry->ErrorText.c_str());
            // The request's own failure says why: refused, not found, no such host.
            for (size_t line = errors; line < ExceptionList().size(); ++line)
                std::fprintf(stderr, "  %s\n", ExceptionList()[line].c_str());
            ++failed;
        }
    }
    try {
        queue.SaveToFile(listFile);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fetchora: %s: %s\n", listFile.c_str(), error.what());
        return count;
    }
    std::printf("%d file(s) in %s\n", queue.count(), listFile.c_str());
    return failed;
}

// Chromium's sandbox cannot run as root; it is turned off then, and only then.
void turnOffSandboxForRoot() {
    if (::geteuid() != 0)
        return;
    ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    std::fprintf(stderr,
                 "fetchora: running as root, so the page view runs without Chromium's sandbox.\n");
}

// On a first start no band is registered yet: the band library installed with the
// program is registered as fetchora-regsvr would.
void registerInstalledBand() {
    std::vector<std::string> problems;
    if (!BandLibrary::registeredBands(problems).empty() || !problems.empty())
        return;
    const std::string library = BandLibrary::installedLibrary(programFolder());
    if (library.empty())
        return;
    const std::string problem = BandLibrary::registerLibrary(library);
    if (problem.empty())
        std::fprintf(stderr, "fetchora: registered the toolbar band %s\n", library.c_str());
    else
        std::fprintf(stderr, "fetchora: %s\n", problem.c_str());
}

// The band keeps its queue and credentials beside its library; a library in a folder the
// user cannot write to (a system-wide install) has nowhere to keep them.
void warnOfReadOnlyBandFolders() {
    std::vector<std::string> problems;
    for (const auto& band : BandLibrary::registeredBands(problems)) {
        const std::string folder = band.library.substr(0, band.library.rfind('/'));
        if (!folder.empty() && ::access(folder.c_str(), W_OK) != 0)
            std::fprintf(stderr,
                         "fetchora: the toolbar band keeps its queue in %s, which you cannot write "
                         "to; install Fetchora into a folder of your own (such as ~/.local)\n",
                         folder.c_str());
    }
}

struct Options {
    QUrl start;
    QString reportFile;
    bool valid = true;
};

Options readOptions(const QStringList& arguments) {
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--report") && i + 1 < arguments.size()) {
            options.reportFile = arguments[++i];
        } else if (argument.startsWith(QStringLiteral("--"))) {
            std::fprintf(stderr, "fetchora: unknown option %s\n", qPrintable(argument));
            options.valid = false;
        } else {
            options.start = BrowserWindow::addressFromInput(argument);
        }
    }
    if (options.start.isEmpty())
        options.start = QUrl(QStringLiteral("qrc:/fetchora/start/index.html"));
    return options;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "--add") == 0) {
        if (argc == 2) {
            std::fprintf(stderr, "usage: fetchora --add URL...\n");
            return 2;
        }
        QCoreApplication app(argc, argv);
        return addToQueue(argc - 2, argv + 2) == 0 ? 0 : 1;
    }
    if (!hasDisplay()) {
        std::fprintf(stderr,
                     "fetchora: no graphical display (DISPLAY and WAYLAND_DISPLAY are not set); "
                     "start it on a desktop or with xvfb-run.\n");
        return 1;
    }
    turnOffSandboxForRoot();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Fetchora"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/fetchora/fetchora.svg")));
    const Options options = readOptions(QCoreApplication::arguments());
    if (!options.valid) {
        std::fprintf(stderr,
                     "usage: fetchora [--report FILE] [URL]\n       fetchora --add URL...\n");
        return 2;
    }

    QFile report(options.reportFile);
    if (!options.reportFile.isEmpty()) {
        if (!report.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            std::fprintf(stderr, "fetchora: cannot write %s\n", qPrintable(options.reportFile));
            return 1;
        }
        BrowserWindow::setReporter([&report](const QString& line) {
            report.write(line.toUtf8() + '\n');
            report.flush();
        });
    }

    registerInstalledBand();
    warnOfReadOnlyBandFolders();
    BandLibrary library;
    auto* window = new BrowserWindow(&library, options.start);
    window->show();
    const int status = QApplication::exec();
    // Every window has closed its band: a library still in use was not given back all
    // its references.
    for (const std::string& path : library.librariesInUse())
        std::fprintf(stderr,
                     "fetchora: the band library %s is still in use after the last window\n",
                     path.c_str());
    BrowserWindow::setReporter({});
    return status;
}
