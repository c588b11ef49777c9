// The transfer run: each attempt fetches the entry at the head of the queue into a
// temporary file in the destination folder, the partial file's bytes followed by the
// response's, and replaces the file with it in one step; finished entries leave the
// queue, and the queue file is saved when the run ends.
#include "toolbar/transfer_run.h"

#include "http/http_client.h"
#include "http/stream.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/format.h"
#include "queue/download_list.h"
#include "queue/exception_list.h"
#include "queue/request_helpers.h"
#include "util/file_io.h"
#include "util/settings.h"
#include "util/strings.h"

#include <algorithm>

namespace fetchora {

namespace {

// The error list's line for an answer that ended before the end of the file.
constexpr const char* kShortAnswer = "The answer ended before the end of the file";

// The key of an address in the run's results: compared without regard to case.
std::string urlKey(const std::string& url) {
    return foldedKey(url);
}

// A failure to create, write or put in place the output file. It ends the run, as a
// count beyond the file's size does, instead of leading to the question of an attempt.
class OutputFileError final : public Error {
public:
    explicit OutputFileError(const std::string& message) : Error(message) {}
};

// Runs an operation on the output file; its read and write failures become OutputFileError.
template <typename Operation> auto writingOutput(Operation&& operation) {
    try {
        return std::forward<Operation>(operation)();
    } catch (const InOutError& error) {
        throw OutputFileError(error.what());
    }
}

// The stream the response goes to: the output file from the partial file's bytes on. A
// write that fails fails the request, as any stream error does, and is remembered so
// that the run can end with it once the request has returned.
class OutputStream final : public TStream {
public:
    OutputStream(files::TempFile& file, int64_t base) : file_(file, base) {}

    int64_t Write(const void* buffer, int64_t count) override {
        return remembered([&] { return file_.Write(buffer, count); });
    }
    int64_t Read(void* buffer, int64_t count) override {
        return remembered([&] { return file_.Read(buffer, count); });
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        position_ = file_.Seek(offset, origin);
        return position_;
    }
    int64_t Size() const override { return file_.Size(); }
    void SetSize(int64_t size) override {
        remembered([&] {
            file_.SetSize(size);
            return 0;
        });
    }
    // Raises the first failure of the output file, if there was one.
    void check() const {
        if (!failure_.empty())
            throw OutputFileError(failure_);
    }

private:
    template <typename Operation> int64_t remembered(Operation&& operation) {
        try {
            const int64_t result = operation();
            position_ = file_.Position();
            return result;
        } catch (const std::exception& error) {
            position_ = file_.Position();
            if (failure_.empty())
                failure_ = error.what();
            throw;
        }
    }

    TFileStream file_;
    std::string failure_;
};

int indexOf(const TDownloadList& list, const TDownload* entry) {
    for (int i = 0; i < list.count(); ++i) {
        if (&list.at(i) == entry)
            return i;
    }
    return -1;
}

} // namespace

int progressPercent(int64_t done, int64_t size) {
    // In integers, so that a half is exactly a half: 23 of 40 is 57.5 %, which rounds to
    // the even 58. A size of zero or less shows 0 %.
    if (size <= 0 || done <= 0)
        return 0;
    const int64_t scaled = done * 100;
    int64_t percent = scaled / size;
    const int64_t twiceRest = (scaled % size) * 2;
    if (twiceRest > size || (twiceRest == size && percent % 2 != 0))
        ++percent;
    return static_cast<int>(percent);
}

TTransferRun::TTransferRun(std::unique_ptr<TDownloadList>& downloads, const std::string& listFile,
                           THttpClient& client, TTransferRunEvents events)
    : FDownloads(downloads), FListFile(listFile), client_(client), events_(std::move(events)) {}

TTransferRun::~TTransferRun() = default;

void TTransferRun::run(const std::string& folder) {
    // Start stays enabled during a run, but a run waiting in a request is not joined by
    // a second one.
    if (FRunning)
        return;
    loaded_ = files::versionOf(FListFile);
    FDownloads->LoadFromFile(FListFile);
    if (!FDownloads->NamesUnique())
        FDownloads->PrefixNames();

    FCancelled = false;
    FRunning = true;
    FRunTotal = FDownloads->count();
    state_ = RunState{};
    for (int i = 0; i < FDownloads->count(); ++i)
        state_.names[urlKey(FDownloads->at(i).URL)] = FDownloads->at(i).FileName;

    try {
        fetchQueue(folder);
    } catch (...) {
        endRun(Ending::Error);
        throw;
    }
    endRun(Ending::Normal);
}

void TTransferRun::fetchQueue(const std::string& folder) {
    events_.panelColour(PanelColour::Running);

    // Temporary files that an earlier run left when its process was killed go now.
    files::removeStaleTempFiles(folder);

    bool leave = false;
    for (int attempt = 0; attempt < FRunTotal && !leave; ++attempt) {
        if (FDownloads->count() == 0)
            break; // the queue was emptied while the run waited
        TDownload* head = &FDownloads->at(0);
        const int64_t countBefore = head->Downloaded;
        // The attempt builds the file under a temporary name in the destination folder,
        // the partial file's bytes followed by the response's, and replaces the file with
        // it in one step after the request.
        std::unique_ptr<files::TempFile> output;
        std::string path;
        bool failed = false;
        bool changed = false;
        bool fresh = false;
        try {
            client_.ContentRangeBegin.clear();
            client_.ContentRangeEnd.clear();
            FCurrent = head;
            if (!isSafeFileName(head->FileName))
                throw Error(format("\"%s\" is not a file name in the destination folder",
                                   head->FileName.c_str()));
            path = folder + "/" + head->FileName;
            output = writingOutput(
                [&] { return std::make_unique<files::TempFile>(folder, head->FileName); });
            int64_t partial = 0;
            if (head->Downloaded > 0) {
                if (files::fileExists(path)) {
                    if (fileSize(path) == head->Downloaded) {
                        writingOutput([&] { output->appendFile(path); });
                        partial = writingOutput([&] { return output->size(); });
                        client_.ContentRangeBegin = std::to_string(head->Downloaded);
                    } else {
                        head->Downloaded = 0;
                        files::deleteFile(path);
                    }
                } else {
                    head->Downloaded = 0;
                }
            }
            // A file from nothing never replaces one that is there already, the user's
            // own or another download's: it takes a free name beside it.
            fresh = head->Downloaded <= 0;
            if (fresh && files::entryExists(path)) {
                path = takeFreeName(*head, folder);
                output->setTarget(path);
            }
            state_.rangeRequested = !client_.ContentRangeBegin.empty();
            state_.accepted = 0;
            state_.restarted = false;
            OutputStream received(*output, partial);
            fetchFileInto(*head, client_, received);
            received.check();
            writingOutput([&] { keepFileBytes(*output, partial, received.Size()); });
            changed = state_.accepted > 0 || state_.restarted;
        } catch (const OutputFileError&) {
            // Nothing is written for this attempt: the temporary file goes, and the entry
            // keeps the count of what is on disk.
            head->Downloaded = countBefore;
            throw;
        } catch (const std::exception& error) {
            // The head may have been replaced while the request waited; the question is
            // about the entry this attempt worked on.
            const std::string url = FCurrent != nullptr ? FCurrent->URL : head->URL;
            if (events_.askConfirmation(format("URL: %s Error: %s Press OK to cancel download.",
                                               url.c_str(), error.what()))) {
                FCurrent = nullptr;
                break;
            }
            failed = true;
        }

        TDownload* entry = FCurrent;
        if (entry == nullptr)
            entry = head;
        if (entry->FileSize < entry->Downloaded)
            throw Error("Downloaded more than file size.");

        // An attempt that failed before its request received nothing new; writing its
        // buffer could only replace a partial file with less. One that received nothing
        // leaves the file as it is, or absent.
        if (!failed && changed) {
            try {
                writingOutput([&] {
                    if (!fresh)
                        output->commit(path);
                    // Someone took the name since the attempt chose it: the next one.
                    while (fresh && !output->commitNew(path))
                        path = takeFreeName(*entry, folder);
                });
            } catch (const OutputFileError&) {
                entry->Downloaded = countBefore;
                throw;
            }
        }

        if (failed)
            ++state_.failures;
        else if (entry->FileSize != entry->Downloaded && !FCancelled)
            noteFailedRequest(*entry);

        state_.counts[urlKey(entry->URL)] = entry->Downloaded;
        if (entry->FileSize == entry->Downloaded) {
            state_.finished.insert(urlKey(entry->URL));
            ++state_.finishedCount;
            const int index = indexOf(*FDownloads, entry);
            if (index >= 0)
                FDownloads->remove(index);
            FCurrent = nullptr;
        }
        if (FCurrent != nullptr && FCurrent == state_.detached.get())
            FCurrent = nullptr;
        state_.detached.reset();
        events_.updateStatus();
        if (FCancelled)
            leave = true;
    }

    if (readSettingText(settings::kSound, "") == settings::kSoundOn)
        events_.beep();
}

std::string TTransferRun::takeFreeName(TDownload& entry, const std::string& folder) {
    // "name (1).ext", "name (2).ext", ...; a leading dot is part of the name.
    const std::string& name = entry.FileName;
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? name.substr(dot) : std::string();
    std::string candidate;
    for (int n = 1;; ++n) {
        candidate = stem + " (" + std::to_string(n) + ")" + extension;
        if (!files::entryExists(folder + "/" + candidate))
            break;
    }
    entry.FileName = candidate;
    rememberName(entry);
    return folder + "/" + candidate;
}

void TTransferRun::rememberName(const TDownload& entry) {
    state_.names[urlKey(entry.URL)] = entry.FileName;
}

void TTransferRun::keepFileBytes(files::TempFile& output, int64_t partial, int64_t received) {
    // Only the bytes the data handler counted belong to the file: they are the end of
    // what the request returned. The bodies of relocations, of answered authorization
    // challenges and of error answers before them are left out, and a server that
    // ignored the range sent the whole file again, which replaces the partial bytes.
    const int64_t accepted = std::min(state_.accepted, received);
    const int64_t from = partial + received - accepted;
    const int64_t to = state_.restarted ? 0 : partial;
    // Nearly always every byte received is the file's, in place: nothing to move, and the
    // file already ends where it should.
    if (from == to)
        return;
    std::string piece(1 << 20, '\0');
    for (int64_t done = 0; done < accepted;) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(accepted - done, 1 << 20));
        const size_t got = output.readAt(from + done, piece.data(), want);
        if (got == 0)
            break;
        output.writeAt(to + done, piece.data(), got);
        done += static_cast<int64_t>(got);
    }
    output.truncate(to + accepted);
}

void TTransferRun::noteFailedRequest(const TDownload& entry) {
    ++state_.failures;
    // The request helper has recorded every failed request but two: a 401 whose
    // password prompt the user cancelled, and an answer that ended before the file did.
    const int status = client_.StatusCode();
    if (status == 401)
        AddException(client_.ReasonPhrase(), entry.URL);
    else if (status == 200 || status == 206)
        AddException(kShortAnswer, entry.URL);
}

void TTransferRun::endRun(Ending ending) {
    const bool failedRequests = state_.failures > 0;
    const bool withErrors = failedRequests || ending == Ending::Error;
    FCurrent = nullptr;
    saveMerged();
    state_ = RunState{};
    events_.ended();
    FRunning = false;
    // "Download complete" only when the run did what it attempted; otherwise the status
    // says so and the error list tells why.
    events_.statusText(withErrors ? "Download ended with errors" : "Download complete");
    events_.panelColour(PanelColour::Idle);
    if (failedRequests)
        events_.showExceptions();
    if (FCancelled)
        events_.showInformation("Download canceled. Press Start to resume download.");
    FCancelled = false;
    FRunning = false;
}

void TTransferRun::stop() {
    if (FRunning) {
        FCancelled = true;
        client_.Abort();
        return;
    }
    events_.showInformation("Download process is not running. Press Start to download.");
}

void TTransferRun::docData(int64_t len) {
    if (!FRunning || FCurrent == nullptr)
        return;
    // Only the answer that carries the file counts; an intermediate or error answer's
    // body is not part of it.
    const int status = client_.StatusCode();
    if (status != 200 && status != 206)
        return;
    if (status == 200 && state_.rangeRequested && !state_.restarted) {
        state_.restarted = true;
        FCurrent->Downloaded = 0;
    }
    FCurrent->Downloaded += len;
    state_.accepted += len;
    events_.updateStatus();
}

std::optional<std::string> TTransferRun::progressText() const {
    if (FCurrent == nullptr)
        return std::nullopt;
    // The entries finished so far, plus the one on its way; entries that a reload added
    // or took away do not move it outside 1 to the run's total.
    const int number = std::clamp(state_.finishedCount + 1, 1, std::max(FRunTotal, 1));
    return format("Downloading %d of %d [%d%%]", number, FRunTotal,
                  progressPercent(FCurrent->Downloaded, FCurrent->FileSize));
}

void TTransferRun::applyResults(TDownloadList& list) const {
    // One folded key per entry, in one buffer, and hashed lookups: linear in the list.
    std::string key;
    list.removeIf([&](const TDownload& entry) {
        if (state_.finished.empty())
            return false;
        foldInto(entry.URL, key);
        return state_.finished.count(key) != 0;
    });
    for (int i = 0; i < list.count(); ++i) {
        TDownload& entry = list.at(i);
        foldInto(entry.URL, key);
        if (const auto name = state_.names.find(key); name != state_.names.end())
            entry.FileName = name->second;
        if (const auto count = state_.counts.find(key); count != state_.counts.end())
            entry.Downloaded = count->second;
    }
}

void TTransferRun::saveMerged() {
    auto merged = std::make_unique<TDownloadList>();
    try {
        merged->LoadFromFile(FListFile);
    } catch (const std::exception&) {
        // A file that cannot be read as a whole is not merged with: the run's own queue
        // is saved, as it stands.
        merged.reset();
    }
    if (merged) {
        applyResults(*merged);
        FDownloads = std::move(merged);
    }
    FDownloads->SaveToFile(FListFile);
}

void TTransferRun::reload() {
    // The stamp is taken before the read: a change during the read is seen next time.
    const std::optional<files::FileVersion> stamp = files::versionOf(FListFile);
    if (FRunning && stamp == loaded_)
        return;
    loaded_ = stamp;
    auto fresh = std::make_unique<TDownloadList>();
    std::exception_ptr failure;
    try {
        fresh->LoadFromFile(FListFile);
    } catch (...) {
        failure = std::current_exception();
    }
    // What the run did stays, whatever the file still says: the entries it finished,
    // the names it gave (they reach the file at the end) and the counts it reached.
    applyResults(*fresh);

    // The entry of the request in progress keeps its object and its counters.
    if (FCurrent != nullptr) {
        const int mine = indexOf(*FDownloads, FCurrent);
        std::unique_ptr<TDownload> current =
            mine >= 0 ? FDownloads->extract(mine) : std::move(state_.detached);
        int theirs = -1;
        const std::string key = urlKey(current->URL);
        std::string other;
        for (int i = 0; i < fresh->count(); ++i) {
            foldInto(fresh->at(i).URL, other);
            if (other == key) {
                theirs = i;
                break;
            }
        }
        if (theirs >= 0) {
            const int order = fresh->at(theirs).Order;
            fresh->remove(theirs);
            TDownload& added = fresh->Add(std::move(current));
            added.Order = order;
            fresh->move(fresh->count() - 1, theirs);
        } else {
            // Removed elsewhere: the attempt finishes with it, then it is gone.
            state_.detached = std::move(current);
        }
    }
    FDownloads = std::move(fresh);
    if (failure)
        std::rethrow_exception(failure);
}

} // namespace fetchora
