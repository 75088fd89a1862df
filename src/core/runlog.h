#pragma once

#include <QFile>
#include <QString>
#include <QStringList>
#include <functional>

// The run log that stays in the installation: every run, window or headless, appends to it what
// it did and why it failed. Each entry reaches the file with one write as it is made, so a run
// that ends abruptly keeps everything before. Past the cap the file becomes "<name>.1", replacing
// an older one, and a new file begins.
class RunLog {
public:
    static constexpr qint64 Cap = 1024 * 1024;

    // Without a path, entries go nowhere.
    explicit RunLog(const QString& path = QString());
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    const QString& Path() const { return FilePath; }

    // One entry, stamped with the time; the lines of a text with several are indented below it.
    void Write(const QString& text);
    // The reason behind a failure: written, and held until the message that tells of the failure
    // takes it.
    void Reason(const QString& reason);
    // The reasons held since the last call, one per line; empty when there are none.
    QString TakeReasons();
    // The run's last entry: the exit code it ends with.
    void Exit(int code);

    // Runs a step of the run between an entry when it begins and one, with its duration, when it
    // ends: done when the step gives true, failed when it gives false or throws, interrupted when
    // a request to stop ended it (RunStopped).
    bool TimedStep(const QString& name, const std::function<bool()>& step);

private:
    void Append(const QByteArray& bytes);
    bool Open();

    QString FilePath;
    QFile File;
    qint64 Size = 0;
    QStringList Pending;
};

// Seconds with one decimal and a comma, as the log and the terminal show durations.
QString FormatSeconds(qint64 milliseconds);
