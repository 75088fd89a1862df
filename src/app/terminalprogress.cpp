#include "app/terminalprogress.h"

#include <QLocale>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

constexpr qint64 RedrawMs = 250;

// The terminal's width, so that the line never wraps (a wrapped line cannot be redrawn).
int TerminalColumns(FILE* stream) {
    winsize size{};
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

QString FormatTransferSize(qint64 bytes) {
    const QLocale italian(QLocale::Italian);
    constexpr double Mega = 1024.0 * 1024.0;
    if (bytes < 1024 * 1024)
        return QString::number((bytes + 1023) / 1024) + QStringLiteral(" KB");
    if (bytes < 1024LL * 1024 * 1024)
        return italian.toString(static_cast<double>(bytes) / Mega, 'f', 1) + QStringLiteral(" MB");
    return italian.toString(static_cast<double>(bytes) / (Mega * 1024.0), 'f', 1) +
           QStringLiteral(" GB");
}

QString DownloadLine(const QString& caption, qint64 done, qint64 total, double bytesPerSecond) {
    QString line = caption + QStringLiteral("  ") + FormatTransferSize(done) +
                   QStringLiteral(" di ") + FormatTransferSize(total);
    if (bytesPerSecond < 0)
        return line;
    line += QStringLiteral("  ") + FormatTransferSize(static_cast<qint64>(bytesPerSecond)) +
            QStringLiteral("/s");
    if (bytesPerSecond > 0 && total > done) {
        const auto seconds =
            static_cast<qint64>(static_cast<double>(total - done) / bytesPerSecond);
        line += QStringLiteral("  ancora %1:%2")
                    .arg(seconds / 60)
                    .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    }
    return line;
}

void TransferMeter::Add(qint64 milliseconds, qint64 bytes) {
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

TerminalLine::TerminalLine(FILE* stream) : Stream(stream) {}

void TerminalLine::Show(const QString& text, bool force) {
    if (Shown && (text == Drawn || (!force && LastDrawn.elapsed() < RedrawMs)))
        return;
    const QString fitted = text.left(TerminalColumns(Stream) - 1);
    std::fprintf(Stream, "\r%s\x1b[K", fitted.toLocal8Bit().constData());
    std::fflush(Stream);
    LastDrawn.start();
    Drawn = text;
    Shown = true;
}

void TerminalLine::Finish() {
    if (!Shown)
        return;
    std::fputc('\n', Stream);
    std::fflush(Stream);
    Shown = false;
}
