#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdio>
#include <deque>
#include <utility>

// "512 KB", "1,2 MB", "3,4 GB": sizes as the terminal shows them, with an Italian comma.
QString FormatTransferSize(qint64 bytes);

// The live line of a download: the package, the bytes of the whole download so far and in all,
// and, once a rate is known (not negative), the rate and the time left.
QString DownloadLine(const QString& caption, qint64 done, qint64 total, double bytesPerSecond);

// The rate of a transfer over its last few seconds, from the byte counts seen along the way.
class TransferMeter {
public:
    void Restart() { Samples.clear(); }
    // Adds the count at that moment (milliseconds of any steady clock).
    void Add(qint64 milliseconds, qint64 bytes);
    // Bytes a second over the window; negative until half a second has been seen.
    double BytesPerSecond() const;

private:
    static constexpr qint64 WindowMs = 5000;
    std::deque<std::pair<qint64, qint64>> Samples;
};

// One line on a terminal stream redrawn in place, a few times a second at most. Any other line
// printed on the terminal ends it first, so lines never mix.
class TerminalLine {
public:
    explicit TerminalLine(FILE* stream);
    TerminalLine(const TerminalLine&) = delete;
    TerminalLine& operator=(const TerminalLine&) = delete;
    ~TerminalLine() { Finish(); }

    // Draws the text in place of the line shown; with force at once, else only when the last
    // drawing is a quarter of a second old. The same text is not drawn twice.
    void Show(const QString& text, bool force);
    // Ends the line shown, if any, keeping it on the terminal.
    void Finish();

private:
    FILE* Stream;
    QElapsedTimer LastDrawn;
    QString Drawn;
    bool Shown = false;
};
