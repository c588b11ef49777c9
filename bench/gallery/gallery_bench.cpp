// The gallery benchmark. "generate" writes the 1,000 files that Add probes; "compare"
// times, in paired rounds, the gallery dialog offscreen filling its list with every row
// of a generated 2 MB page (20,000 anchors, 5,000 images) and answering Apply on it, and
// Add of 1,000 checked rows against nginx next to `curl -s -I --http1.0` of the same
// 1,000 addresses in one process. Exits 0 when both targets are met.
#include "gallery/download_gallery_form.h"
#include "gallery/hyper_link.h"
#include "gallery/page_scan.h"
#include "platform/ui.h"
#include "queue/download_list.h"

#include <QApplication>
#include <QComboBox>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace fetchora;

namespace {

constexpr int kFiles = 1000;
constexpr int kAnchors = 20000;
constexpr int kImages = 5000;
constexpr double kFillTargetMs = 300;
constexpr double kAddTarget = 1.5; // at most this times curl's time

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string fileName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.bin", i);
    return name;
}

int generate(const fs::path& docroot) {
    fs::create_directories(docroot);
    for (int i = 0; i < kFiles; ++i) {
        std::ofstream out(docroot / fileName(i), std::ios::binary);
        out << std::string(static_cast<size_t>(100 + (i * 37) % 4000), 'x');
    }
    return 0;
}

// A page as sites write them: quotes of both kinds, attributes before and after the
// address, tags broken over lines, entities in the link texts; about 2 MB.
std::string generatePage() {
    std::string page = "<html><head><title>Gallery &amp; files</title></head><body>\n";
    page.reserve(2'200'000);
    for (int i = 0; i < kAnchors; ++i) {
        const std::string n = std::to_string(i);
        switch (i % 4) {
        case 0:
            page +=
                "<a href=\"files/item" + n + ".zip\" class=\"dl\">Item " + n + " &amp; notes</a>\n";
            break;
        case 1:
            page += "<a class='nav' title='page " + n + "' href='/pages/p" + n +
                    ".html'>Page&nbsp;" + n + "</a><br>\n";
            break;
        case 2:
            page += "<A HREF=\"http://mirror.example.org/pub/f" + n +
                    ".tar.gz\"\n  rel=\"nofollow\"\n>Mirror &lt;" + n + "&gt;</A>\n";
            break;
        default:
            page += "<p>Some text around the link to <a id=\"x" + n + "\" href=\"docs/d" + n +
                    ".pdf\">the document number " + n +
                    " of this long list of documents</a>.</p>\n";
            break;
        }
        if (i % 4 == 0 && i / 4 < kImages) {
            const std::string m = std::to_string(i / 4);
            page += (i / 4) % 2 == 0
                        ? "<img src=\"img/t" + m + ".jpg\" width=\"64\" height=\"64\" alt=\"t\">\n"
                        : "<img\n alt='photo " + m + "' src='/photos/p" + m + ".png'>\n";
        }
    }
    page += "</body></html>\n";
    return page;
}

template <typename T> T median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? T() : values[values.size() / 2];
}

struct FillTimes {
    double fillMs = 0;
    double applyMs = 0;
    int rows = 0;
};

FillTimes timeFill(const std::string& page) {
    TDownloadList queue;
    TDownloadGalleryForm form(queue);
    TPageScanner scanner;
    scanner.PageURL = "http://www.example.org/gallery/index.html";
    scanner.PageText = page;
    scanner.ScanPage(*form.Links);
    form.show();
    QApplication::processEvents();

    FillTimes times;
    auto start = Clock::now();
    form.ResetBtnClick();
    QApplication::processEvents(); // the layout and the paint of the filled list
    times.fillMs = secondsSince(start) * 1000;
    times.rows = form.FileList->topLevelItemCount();

    form.ShowCB->setCurrentIndex(1);
    form.WhereCB->setCurrentIndex(0);
    form.ContainsCB->setEditText(QStringLiteral("zip"));
    start = Clock::now();
    form.FilterBtnClick();
    QApplication::processEvents();
    times.applyMs = secondsSince(start) * 1000;
    return times;
}

// Add of every file, all rows checked; seconds, and the number queued.
double timeAdd(const std::string& baseUrl, int& queued) {
    TDownloadList queue;
    TDownloadGalleryForm form(queue);
    for (int i = 0; i < kFiles; ++i) {
        THyperLink& entry = form.Links->AddLink();
        entry.Kind = kLinkKind;
        entry.Description = fileName(i);
        entry.URL = baseUrl + "/" + fileName(i);
    }
    form.ResetBtnClick();
    const auto start = Clock::now();
    form.AddBtnClick();
    const double seconds = secondsSince(start);
    queued = queue.count();
    return seconds;
}

double timeCurl(const std::string& baseUrl, const fs::path& config) {
    {
        std::ofstream out(config);
        for (int i = 0; i < kFiles; ++i)
            out << "url = \"" << baseUrl << "/" << fileName(i) << "\"\n";
    }
    const std::string command = "curl -s -I --http1.0 -K '" + config.string() + "' > /dev/null";
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = secondsSince(start);
    if (status != 0)
        std::fprintf(stderr, "curl ended with status %d\n", status);
    return seconds;
}

int compare(const std::string& baseUrl, const fs::path& work, int rounds) {
    // Message boxes answer at once; the benchmark shows nothing.
    ui::Hooks hooks;
    hooks.messageBox = [](const ui::MessageRequest&) { return ui::MessageResult::Ok; };
    ui::installHooks(hooks);

    const std::string page = generatePage();
    std::vector<double> fills, applies, ours, curls, ratios;
    int rows = 0;
    int queued = 0;
    for (int round = 0; round < rounds; ++round) {
        const FillTimes fill = timeFill(page);
        fills.push_back(fill.fillMs);
        applies.push_back(fill.applyMs);
        rows = fill.rows;
        const double add = timeAdd(baseUrl, queued);
        const double curl = timeCurl(baseUrl, work / "curl.cfg");
        ours.push_back(add);
        curls.push_back(curl);
        ratios.push_back(add / curl);
        std::printf("  round %d: fill %.1f ms (%d rows), Apply %.1f ms, Add %.3f s, curl %.3f s\n",
                    round + 1, fill.fillMs, fill.rows, fill.applyMs, add, curl);
    }
    const double fillMs = median(fills);
    const double ratio = median(ratios);
    const bool fillMet = fillMs < kFillTargetMs;
    const bool addMet = ratio <= kAddTarget && queued == kFiles;
    std::printf("\nGallery on a %.1f MB page, median of %d rounds\n",
                static_cast<double>(page.size()) / 1e6, rounds);
    std::printf("  list filled with %d rows: %.1f ms (target < %.0f ms) %s\n", rows, fillMs,
                kFillTargetMs, fillMet ? "met" : "NOT met");
    std::printf("  Apply on it: %.1f ms\n", median(applies));
    std::printf("  Add of %d rows: %.3f s, curl -I of the same: %.3f s, median ratio %.2f "
                "(target <= %.2f, %d queued) %s\n",
                kFiles, median(ours), median(curls), ratio, kAddTarget, queued,
                addMet ? "met" : "NOT met");
    return fillMet && addMet ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "generate")
        return generate(args[1]);
    if (args.size() >= 3 && args.size() <= 4 && args[0] == "compare") {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return compare(args[1], args[2], args.size() == 4 ? std::atoi(args[3].c_str()) : 3);
    }
    std::fprintf(stderr, "usage: gallery_bench generate DOCROOT\n"
                         "       gallery_bench compare BASE_URL WORK_FOLDER [ROUNDS]\n");
    return 2;
}
