#include "core/runlog.h"

#include "core/stoprequest.h"
#include "core/workfolder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocale>
#include <fcntl.h>

RunLog::RunLog(const QString& path) : FilePath(path) {}

void RunLog::Write(const QString& text) {
    if (FilePath.isEmpty())
        return;
    QString entry = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "));
    entry += QString(text).replace('\r', QString()).replace('\n', QStringLiteral("\n    "));
    Append(entry.toUtf8() + '\n');
}

void RunLog::Reason(const QString& reason) {
    Write(QStringLiteral("Motivo: ") + reason);
    Pending.append(reason);
}

QString RunLog::TakeReasons() {
    const QString reasons = Pending.join('\n');
    Pending.clear();
    return reasons;
}

bool RunLog::Open() {
    if (File.isOpen())
        return true;
    // A log that cannot be used (this user may not write it, or it is not a regular file, which the
    // start of the run reports) leaves the entries out.
    try {
        EnsureWorkFolder(QFileInfo(FilePath).path(), SharedWorkFolderMode);
        Descriptor file = OpenWorkFile(FilePath, O_WRONLY | O_APPEND | O_CREAT);
        File.setFileName(FilePath);
        if (!File.open(file.Get(), QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                       QFileDevice::AutoCloseHandle))
            return false;
        file.Release();
    } catch (const OrvantoError&) {
        return false;
    }
    Size = File.size();
    return true;
}

void RunLog::Append(const QByteArray& bytes) {
    if (!Open())
        return;
    if (Size > 0 && Size + bytes.size() > Cap) {
        File.close();
        const QString older = FilePath + QStringLiteral(".1");
        QFile::remove(older);
        QFile::rename(FilePath, older);
        if (!Open())
            return;
    }
    // Unbuffered: one write per entry, so an entry is either whole in the file or absent.
    const qint64 written = File.write(bytes);
    if (written > 0)
        Size += written;
}

void RunLog::Exit(int code) {
    Write(QStringLiteral("Fine, codice di uscita ") + QString::number(code));
}

bool RunLog::TimedStep(const QString& name, const std::function<bool()>& step) {
    Write(QStringLiteral("Inizio: ") + name);
    QElapsedTimer clock;
    clock.start();
    const auto end = [&](const QString& how) {
        Write(how + name + " (" + FormatSeconds(clock.elapsed()) + ")");
    };
    bool done = false;
    try {
        done = step();
    } catch (const RunStopped&) {
        end(QStringLiteral("Interrotto: "));
        throw;
    } catch (...) {
        end(QStringLiteral("Non riuscito: "));
        throw;
    }
    end(done ? QStringLiteral("Fine: ") : QStringLiteral("Non riuscito: "));
    return done;
}

QString FormatSeconds(qint64 milliseconds) {
    return QLocale(QLocale::Italian).toString(static_cast<double>(milliseconds) / 1000.0, 'f', 1) +
           QStringLiteral(" s");
}
