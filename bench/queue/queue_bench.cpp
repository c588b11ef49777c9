// The queue benchmark: a queue of 100,000 entries (addresses of mixed case, one in fifty
// written twice in another spelling) saved with its duplicate removal, loaded, worked off
// from its head one entry after another as a run does, reloaded by a run that has
// finished half of it, and changed by the queue editor (every other entry deleted, or
// moved to the bottom). Each step is timed in several rounds; the program prints the
// median with the fastest and slowest round and exits with 1 when a median misses its
// target.
#include "http/http_client.h"
#include "queue/download_list.h"
#include "toolbar/transfer_run.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace {

using fetchora::TDownload;
using fetchora::TDownloadList;

constexpr int kEntries = 100000;
constexpr int kRounds = 7;
constexpr double kTargetMs = 100.0;

// The address of entry i: capitals in its host and path, and every fiftieth entry a second
// time in lower case, which the save's duplicate removal takes out.
std::string address(int i) {
    return "http://Files" + std::to_string(i % 97) + ".Example.ORG/Music/Album-" +
           std::to_string(i / 100) + "/Track " + std::to_string(i) + ".MP3?Session=AbC";
}

std::unique_ptr<TDownloadList> makeQueue() {
    auto list = std::make_unique<TDownloadList>();
    for (int i = 0; i < kEntries; ++i) {
        auto entry = std::make_unique<TDownload>();
        entry->URL = address(i);
        entry->FileName = "Track " + std::to_string(i) + ".MP3";
        entry->FileSize = 5368709120LL + i;
        entry->Downloaded = i % 3 == 0 ? 4294967296LL + i : 0;
        list->Add(std::move(entry));
        if (i % 50 == 0) {
            auto twin = std::make_unique<TDownload>();
            twin->URL = address(i);
            for (char& c : twin->URL)
                c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            twin->FileName = "twin";
            twin->FileSize = 1;
            twin->Downloaded = 0;
            list->Add(std::move(twin));
        }
    }
    return list;
}

struct Timing {
    double median = 0;
    double fastest = 0;
    double slowest = 0;
};

// Times measured() in kRounds rounds, each after its own prepare().
Timing timeRounds(const std::function<void()>& prepare, const std::function<void()>& measured) {
    std::vector<double> ms;
    for (int round = 0; round < kRounds; ++round) {
        prepare();
        const auto start = std::chrono::steady_clock::now();
        measured();
        const auto end = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front(), ms.back()};
}

bool report(const char* what, const Timing& t) {
    const bool met = t.median < kTargetMs;
    std::printf("%-44s median %7.2f ms (%.2f to %.2f)  target < %.0f ms: %s\n", what, t.median,
                t.fastest, t.slowest, kTargetMs, met ? "met" : "NOT MET");
    return met;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    char folder[] = "/tmp/fetchora-queue-bench.XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        std::perror("mkdtemp");
        return 2;
    }
    const std::string listFile = std::string(folder) + "/downloads.txt";
    bool met = true;

    std::unique_ptr<TDownloadList> list;
    const Timing save =
        timeRounds([&] { list = makeQueue(); }, [&] { list->SaveToFile(listFile); });
    std::printf("queue of %d entries and %d twins; %d saved\n", kEntries, kEntries / 50,
                list->count());
    if (list->count() != kEntries) {
        std::fprintf(stderr, "queue_bench: the save kept %d entries, not %d\n", list->count(),
                     kEntries);
        return 2;
    }
    met = report("save (duplicate removal, sort, write)", save) && met;

    met = report("load", timeRounds([&] { list = std::make_unique<TDownloadList>(); },
                                    [&] { list->LoadFromFile(listFile); })) &&
          met;

    met = report("head removal, all entries one by one",
                 timeRounds([&] { list->LoadFromFile(listFile); },
                            [&] {
                                while (list->count() > 0)
                                    list->remove(0);
                            })) &&
          met;

    // The whole reload of a queue file that another window saved: read, the run's results
    // put in, the list replaced.
    fetchora::THttpClient client("HttpClient1");
    auto downloads = std::make_unique<TDownloadList>();
    fetchora::TTransferRunEvents events;
    fetchora::TTransferRun run(downloads, listFile, client, std::move(events));
    met = report("reload of a queue file saved elsewhere", timeRounds(
                                                               [&] {
                                                                   list->LoadFromFile(listFile);
                                                                   list->SaveToFile(listFile);
                                                               },
                                                               [&] { run.reload(); })) &&
          met;
    if (downloads->count() != kEntries) {
        std::fprintf(stderr, "queue_bench: the reload read %d entries, not %d\n",
                     downloads->count(), kEntries);
        return 2;
    }

    // The queue editor's changes of checked rows, as it makes them: every other entry
    // checked, then deleted, or moved to the bottom with both groups keeping their order.
    std::unordered_set<const TDownload*> checked;
    const auto loadAndCheck = [&] {
        list->LoadFromFile(listFile);
        checked.clear();
        for (int i = 0; i < list->count(); i += 2)
            checked.insert(&list->at(i));
    };
    met = report("editor: every other entry deleted",
                 timeRounds(loadAndCheck,
                            [&] {
                                list->removeIf([&](const TDownload& entry) {
                                    return checked.count(&entry) != 0;
                                });
                            })) &&
          met;
    met = report("editor: every other entry to the bottom",
                 timeRounds(loadAndCheck,
                            [&] {
                                list->stablePartition([&](const TDownload& entry) {
                                    return checked.count(&entry) == 0;
                                });
                            })) &&
          met;

    ::unlink(listFile.c_str());
    ::rmdir(folder);
    return met ? 0 : 1;
}
