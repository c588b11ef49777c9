// The transfer run: downloads the queue from its head, one file after another, with one
// HTTP client, continuing partial files with range requests. It knows no window: what it
// shows and asks goes through the callbacks of TTransferRunEvents.
#pragma once

#include "platform/file_version.h"
#include "platform/files.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace fetchora {

class TDownload;
class TDownloadList;
class THttpClient;

// The status panel's two colours: the window colour, and the light green of a run.
enum class PanelColour { Idle, Running };

// What the run shows and asks; the toolbar window answers with its status field and the
// desktop's message boxes, a test with a script.
struct TTransferRunEvents {
    // Puts a text into the status field.
    std::function<void(const std::string&)> statusText;
    // Recomputes the status line from the queue and the run (progressText while running).
    std::function<void()> updateStatus;
    std::function<void(PanelColour)> panelColour;
    // OK and Cancel; true only for OK.
    std::function<bool(const std::string&)> askConfirmation;
    std::function<void(const std::string&)> showInformation;
    std::function<void()> beep;
    // Shows the error list (when it holds any line).
    std::function<void()> showExceptions;
    // The run has ended and the queue file is saved: polling may go on.
    std::function<void()> ended;
};

// The percentage of done in size, rounded to the nearest integer with halves going to
// the even neighbour; 0 for a size of zero or less.
int progressPercent(int64_t done, int64_t size);

class TTransferRun final {
public:
    // The run works on the queue that downloads holds (a reload during the run replaces
    // the list) and saves it to listFile; both belong to the caller and outlive the run.
    TTransferRun(std::unique_ptr<TDownloadList>& downloads, const std::string& listFile,
                 THttpClient& client, TTransferRunEvents events);
    ~TTransferRun();
    TTransferRun(const TTransferRun&) = delete;
    TTransferRun& operator=(const TTransferRun&) = delete;

    // The whole run into folder: reloads the queue, makes the file names unique, fetches
    // the entries and saves the queue. Returns when the run has ended; an error that ends
    // the run leaves after the end steps. Does nothing while a run is going on.
    void run(const std::string& folder);
    // Ends the run after the request in progress; outside a run, says that none runs.
    void stop();
    // A piece of len bytes of response body arrived for the run's request.
    void docData(int64_t len);
    // Reloads the queue file while the run waits in a request, keeping the run's current
    // entry with its counters and what the run already did. Returns at once when the
    // file is the one the run loaded last. Linear in the length of the queue.
    void reload();
    // "Downloading %d of %d [%d%%]" for the current entry; nothing when there is none.
    std::optional<std::string> progressText() const;

    bool running() const { return FRunning; }
    bool cancelled() const { return FCancelled; }
    int runTotal() const { return FRunTotal; }
    // The entry of the attempt in progress, or nullptr.
    TDownload* current() const { return FCurrent; }

private:
    // What the run keeps beside its four fields while it works.
    struct RunState {
        // The attempt in progress asked for the rest of a partial file.
        bool rangeRequested = false;
        // The server answered that range request with the whole file.
        bool restarted = false;
        // Body bytes of the attempt that belong to the file.
        int64_t accepted = 0;
        // The entries this run finished, by URL with case folded.
        std::unordered_set<std::string> finished;
        int finishedCount = 0;
        // The file names the run gave its entries, by URL with case folded.
        std::unordered_map<std::string, std::string> names;
        // The received counts of the entries the run worked on, by URL with case folded.
        std::unordered_map<std::string, int64_t> counts;
        // Attempts that ended without their entry finished, Stop aside.
        int failures = 0;
        // The run's current entry after a reload dropped it from the queue.
        std::unique_ptr<TDownload> detached;
    };

    void fetchQueue(const std::string& folder);
    // Gives entry the first free name "name (n).ext" beside its name in folder, which
    // the queue keeps; returns the new path.
    std::string takeFreeName(TDownload& entry, const std::string& folder);
    void rememberName(const TDownload& entry);
    // Puts what the run did into a list read from the queue file: the entries it finished
    // go, and the names it gave and the counts it reached replace the file's. Linear in
    // the length of the list.
    void applyResults(TDownloadList& list) const;
    // Saves the queue file as it is now (other windows and the queue editor may have
    // saved meanwhile) with the run's results in it.
    void saveMerged();
    // Leaves in output the partial file's bytes and the counted bytes of the response.
    void keepFileBytes(files::TempFile& output, int64_t partial, int64_t received);
    // Counts the attempt on entry as failed and records why in the error list when the
    // request helper did not.
    void noteFailedRequest(const TDownload& entry);
    // How the fetching ended: after its last attempt (or Stop, or OK in the question), or
    // with an error that ends the run.
    enum class Ending { Normal, Error };
    void endRun(Ending ending);

    std::unique_ptr<TDownloadList>& FDownloads;
    const std::string& FListFile;
    THttpClient& client_;
    TTransferRunEvents events_;

    // The queue file as the run last read it; a reload of the same file is skipped.
    std::optional<files::FileVersion> loaded_;

    bool FRunning = false;
    bool FCancelled = false;
    int FRunTotal = 0;
    TDownload* FCurrent = nullptr;
    RunState state_;
};

} // namespace fetchora
