#pragma once

#include <QString>
#include <cstdio>
#include <deque>
#include <functional>
#include <utility>

// Milliseconds of a steady clock; the live line's clock, which tests drive by hand.
using MillisecondClock = std::function<qint64()>;
qint64 SteadyMilliseconds();

// "512 B", "37 KB", "1,2 MB", "3,4 GB": sizes as the terminal shows them, with an Italian comma.
QString FormatTransferSize(qint64 bytes);

// The live line of a download: the package's caption, the bytes of the whole download so far and
// in all, and, once a rate is known (not negative), the rate and the time left.
QString DownloadLine(const QString& caption, qint64 done, qint64 total, double bytesPerSecond);

// The rate of a transfer over its last few seconds, from the byte counts seen along the way.
class TransferMeter {
public:
    void Restart() { Samples.clear(); }
    // Adds the count at that moment (milliseconds of a steady clock).
    void Add(qint64 milliseconds, qint64 bytes);
    // Bytes a second over the window; negative until half a second has been seen.
    double BytesPerSecond() const;

private:
    static constexpr qint64 WindowMs = 5000;
    // Samples closer than this to the one before replace the newest, so that a fast transfer
    // does not pile up thousands of them.
    static constexpr qint64 StepMs = 100;
    std::deque<std::pair<qint64, qint64>> Samples;
};

// The live progress line of the headless update on a terminal: one line redrawn in place
// ("\r", the text, "\x1b[K" to erase what a longer text left), a few times a second at most,
// cut to the terminal's width so that it never wraps.
class TerminalProgress {
public:
    explicit TerminalProgress(FILE* stream, MillisecondClock clock = SteadyMilliseconds);
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;
    ~TerminalProgress() { Finish(); }

    // A download starts from nothing: its rate is measured anew.
    void StartDownload();
    // The package now arriving ("Download NAME"), named from the next drawing on.
    void SetPackage(const QString& caption) { Package = caption; }
    // Bytes of the whole download so far and in all; the last byte is drawn at once.
    void ShowDownload(qint64 total, qint64 done);
    // Files applied out of all; the last one is drawn at once and ends the line.
    void ShowUpdate(int total, int done);

    // Erases the line shown, so that another line can take its place; the next progress draws
    // it again at once.
    void Clear();
    // Ends the line shown, if any, keeping it on the terminal.
    void Finish();

private:
    // Draws the text in place of the line shown: at once when nothing is shown or with force,
    // else only when the last drawing is a quarter of a second old. The same text is not drawn
    // twice.
    void Draw(const QString& text, bool force);
    // Writes the ending of the line shown, if any: an erasure or a newline.
    void Leave(const char* ending);

    FILE* Stream;
    MillisecondClock Clock;
    TransferMeter Meter;
    QString Package;
    QString Drawn;
    qint64 DrawnAt = 0;
    bool Shown = false;
};
