// The table-of-contents analyses of the player component: the progress display they
// report to (a dialog in the window layer, a plain sink without one), the two searches
// over the Q sub-channel, and the table as the system's CD-audio device reports it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "drive/CdToc.h"
#include "engine/EngineInterfaces.h"

namespace vantrel {

class TKsCdPlayer;

// The analysis status, one byte of the component: set to failed or finished by the
// worker, to cancel requested by the display's thread, back to idle by the caller.
enum AnalysisStatus : std::uint8_t { asIdle = 0, asFailed = 2, asFinished = 3, asCancel = 4 };

// What the worker tells the progress display. The first three close it.
enum AnalysisNotify : int {
    anFailed = 0,
    anFinished = 1,
    anCancelled = 2,
    anStep = 3,    // one more step done
    anTotal = 4,   // value: the number of steps
    anReset = 6,   // the bar back to empty
    anFill = 7,    // the bar full
    anAdvance = 8, // the bar one further
};

// The font of the progress dialog as the language and settings files describe one; the
// window layer turns it into its own font.
struct TDlgFont {
    std::string Name; // empty: the desktop's font
    int Size = 9;     // points
    std::uint8_t Charset = 1;
    bool Bold = false, Italic = false, Underline = false, StrikeOut = false;
    friend bool operator==(const TDlgFont&, const TDlgFont&) = default;
};

// The counting of a progress display without the display: the captions, the steps and
// the bar, changed by the worker's notifications. The bar position never passes its maximum.
struct TProgressState {
    std::string baseCaption;
    std::string caption; // base caption, then base + "... (step/total)"
    int total = 0, step = 0;
    int barMax = 1, barPos = 0;

    // Applies one notification; true for those that close the display.
    bool Apply(int code, int value);
};

// The progress display of one analysis. Prepare and ShowModal run on the component's
// thread, Notify on the worker's. ShowModal returns once a closing notification has
// arrived, which may happen before ShowModal is called.
class IAnalysisProgress {
public:
    virtual ~IAnalysisProgress() = default;
    virtual void Prepare(const std::string& caption, const std::string& elapsedLabel, const TDlgFont& font) = 0;
    virtual void ShowModal() = 0;
    virtual void Notify(int code, int value) = 0;
};

// Makes the display for each analysis; the component's default makes a TProgressSink.
using AnalysisProgressFactory = std::function<std::unique_ptr<IAnalysisProgress>(TKsCdPlayer&)>;

// The display without a window, for tests and the command line: counts like the dialog
// and lets an observer see each notification (on the worker's thread, after counting).
class TProgressSink : public IAnalysisProgress {
public:
    using Observer = std::function<void(int code, int value)>;
    explicit TProgressSink(Observer observer = {}) : observer_(std::move(observer)) {}

    void Prepare(const std::string& caption, const std::string& elapsedLabel, const TDlgFont& font) override;
    void ShowModal() override;
    void Notify(int code, int value) override;
    TProgressState State() const;

private:
    Observer observer_;
    mutable std::mutex mutex_;
    std::condition_variable closed_;
    bool isClosed_ = false;
    TProgressState state_;
};

// ---- the Q sub-channel searches ----

// Reads the Q of one absolute frame by method 1 (READ CDDA), 2 (READ CD) or 3 (READ SUB-CHANNEL).
using TQReader = std::function<QRead(int method, std::int64_t frames, TQRecord& record)>;

enum class TSearchResult : std::uint8_t {
    Found,       // out holds the position
    NotFound,    // the search gave up: a refused read, its read budget, a cancel request
    DriveFailed, // a read failed outright: the analysis cannot go on
};

// Index 0 of track `track` between lower (the previous track's start) and upper (the
// track's start), absolute frames. Method 0 takes the first method that reads `lower`.
// Found with upper when the range closes without index 0 in it. With a status, a cancel
// request (asCancel) ends the search between two reads.
TSearchResult GetIndexZeroPos(const TQReader& read, int method, std::int64_t& out, std::int64_t upper,
                              std::int64_t lower, int track, const std::atomic<std::uint8_t>* status);

// Index 1 of track `track` between lower and upper (the session's lead-out), by READ
// SUB-CHANNEL, with the control nibble its Q reports there.
TSearchResult GetTrackStartPos(const TQReader& read, std::uint8_t& control, std::int64_t& out, std::int64_t upper,
                               std::int64_t lower, int track, const std::atomic<std::uint8_t>& status);

// ---- the CD-audio device ----

// Fills toc from an open CD-audio device (tracks, data flags, the lead-out one frame past
// the last track's length) and returns its CDDB identifier, or 0 when a query fails.
// identity: the low 32 bits of the media identity, 0 when it is not a decimal number.
std::uint32_t ReadTocMci(ICdAudio& device, std::uint32_t deviceId, TCdToc& toc, std::uint32_t& identity);

} // namespace vantrel
