#include "app/terminalprogress.h"

#include <QLocale>
#include <chrono>
#include <cmath>
#include <sys/ioctl.h>

namespace {

constexpr qint64 RedrawMs = 250;
// Beyond this the time left says nothing useful and is left out.
constexpr qint64 LongestTimeLeft = 100 * 3600;

// The terminal's width, asked at every drawing so that a resized window is followed.
int TerminalColumns(FILE* stream) {
    winsize size{};
    const int descriptor = fileno(stream);
    if (descriptor >= 0 && ioctl(descriptor, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// "0:27", "12:05", "1:02:03".
QString FormatTimeLeft(qint64 seconds) {
    const auto twoDigits = [](qint64 value) {
        return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
    };
    if (seconds < 3600)
        return QString::number(seconds / 60) + ':' + twoDigits(seconds % 60);
    return QString::number(seconds / 3600) + ':' + twoDigits(seconds / 60 % 60) + ':' +
           twoDigits(seconds % 60);
}

} // namespace

qint64 SteadyMilliseconds() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString FormatTransferSize(qint64 bytes) {
    const QLocale italian(QLocale::Italian);
    const double value = static_cast<double>(bytes);
    if (bytes < 1024)
        return QString::number(bytes) + QStringLiteral(" B");
    if (std::llround(value / 1024.0) < 1024)
        return QString::number(std::llround(value / 1024.0)) + QStringLiteral(" KB");
    const double megabytes = value / (1024.0 * 1024.0);
    if (std::round(megabytes * 10.0) < 1024.0 * 10.0)
        return italian.toString(megabytes, 'f', 1) + QStringLiteral(" MB");
    return italian.toString(megabytes / 1024.0, 'f', 1) + QStringLiteral(" GB");
}

QString DownloadLine(const QString& caption, qint64 done, qint64 total, double bytesPerSecond) {
    QString line = caption + QStringLiteral("  ") + FormatTransferSize(done) +
                   QStringLiteral(" di ") + FormatTransferSize(total);
    if (bytesPerSecond < 0)
        return line;
    line += QStringLiteral("  ") + FormatTransferSize(std::llround(bytesPerSecond)) +
            QStringLiteral("/s");
    if (bytesPerSecond >= 1 && total > done) {
        const auto seconds =
            static_cast<qint64>(std::ceil(static_cast<double>(total - done) / bytesPerSecond));
        if (seconds < LongestTimeLeft)
            line += QStringLiteral("  ancora ") + FormatTimeLeft(seconds);
    }
    return line;
}

void TransferMeter::Add(qint64 milliseconds, qint64 bytes) {
    if (Samples.size() >= 2 && milliseconds - Samples[Samples.size() - 2].first < StepMs)
        Samples.back() = {milliseconds, bytes};
    else
        Samples.emplace_back(milliseconds, bytes);
    // The oldest sample kept is the last one at least a window old.
    while (Samples.size() > 2 && milliseconds - Samples[1].first >= WindowMs)
        Samples.pop_front();
}

double TransferMeter::BytesPerSecond() const {
    if (Samples.size() < 2)
        return -1;
    const qint64 span = Samples.back().first - Samples.front().first;
    if (span < 500)
        return -1;
    return static_cast<double>(Samples.back().second - Samples.front().second) * 1000.0 /
           static_cast<double>(span);
}

TerminalProgress::TerminalProgress(FILE* stream, MillisecondClock clock)
    : Stream(stream), Clock(std::move(clock)) {}

void TerminalProgress::StartDownload() {
    Meter.Restart();
}

void TerminalProgress::ShowDownload(qint64 total, qint64 done) {
    Meter.Add(Clock(), done);
    Draw(DownloadLine(Package, done, total, Meter.BytesPerSecond()), done >= total);
}

void TerminalProgress::ShowUpdate(int total, int done) {
    if (total <= 0)
        return;
    Draw(QStringLiteral("Aggiornamento: %1 di %2").arg(done).arg(total), done >= total);
    if (done >= total)
        Finish();
}

void TerminalProgress::Draw(const QString& text, bool force) {
    const qint64 now = Clock();
    if (Shown && (text == Drawn || (!force && now - DrawnAt < RedrawMs)))
        return;
    const QString fitted = text.left(TerminalColumns(Stream) - 1);
    std::fprintf(Stream, "\r%s\x1b[K", fitted.toLocal8Bit().constData());
    std::fflush(Stream);
    Drawn = text;
    DrawnAt = now;
    Shown = true;
}

void TerminalProgress::Clear() {
    Leave("\r\x1b[K");
}

void TerminalProgress::Finish() {
    Leave("\n");
}

void TerminalProgress::Leave(const char* ending) {
    if (!Shown)
        return;
    std::fputs(ending, Stream);
    std::fflush(Stream);
    Shown = false;
}
