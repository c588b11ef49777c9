// The fetchora program: a window that holds the toolbar window, so that a user sees the
// toolbar and its status; and "fetchora --add URL...", which probes addresses and queues
// them from a terminal, with or without a display.
#include "http/http_client.h"
#include "platform/files.h"
#include "platform/qt/desktop.h"
#include "queue/download_list.h"
#include "queue/exception_list.h"
#include "toolbar/fetchora_form.h"
#include "util/library_path.h"
#include "util/settings.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMainWindow>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool hasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Probes each address with one HEAD request, as a drop on the toolbar does, and appends
// those with a positive size to the queue file; the toolbar windows see them at their
// next poll. Returns the number of addresses that were not queued.
int addToQueue(int count, char** urls) {
    using namespace fetchora;
    setSettingsKeyPath(settings::kKeyPath);
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
            std::printf("queued %s as %s (%d bytes)\n", entry->URL.c_str(), entry->FileName.c_str(),
                        entry->FileSize);
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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Fetchora"));
    fetchora::ui::installDesktopUi();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Fetchora"));
    auto* toolbar = new fetchora::TFetchoraForm(&window);
    toolbar->setWindowFlags(Qt::Widget);
    window.setCentralWidget(toolbar);
    window.resize(toolbar->size());
    window.show();
    return app.exec();
}
