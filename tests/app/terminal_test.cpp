#include "app/terminalprogress.h"
#include "core/descriptor.h"
#include "support/demosite.h"
#include "support/nginxserver.h"

#include <QProcessEnvironment>
#include <QRegularExpression>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// A child process, killed and reaped if it still runs when the object goes.
class ChildProcess {
public:
    explicit ChildProcess(pid_t pid) : Pid(pid) {}
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (Pid > 0) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
    }
    // The exit code once the process has ended (-1 for a signal), waiting for it or not.
    std::optional<int> Ended(bool wait) {
        int status = 0;
        pid_t reaped = 0;
        do
            reaped = waitpid(Pid, &status, wait ? 0 : WNOHANG);
        while (reaped < 0 && errno == EINTR);
        if (reaped != Pid)
            return std::nullopt;
        Pid = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    pid_t Pid;
};

struct TerminalResult {
    int ExitCode = -1;
    // Everything written on the terminal, standard output and error together, as the terminal
    // driver passes it on ("\n" becomes "\r\n").
    QByteArray Output;
};

// Runs the installation's Orvanto on a real pseudo-terminal, as the demo site runs it on a pipe,
// and reads the terminal until the program ends.
TerminalResult RunOnTerminal(const DemoSite& site, const QStringList& arguments,
                             const QString& term = QStringLiteral("xterm")) {
    QProcessEnvironment environment = site.RunEnvironment();
    environment.insert("TERM", term);
    // Everything the child needs is made before the fork: after it, only execve.
    std::vector<std::string> strings;
    strings.push_back((site.ProgramFolder() + "Orvanto").toStdString());
    for (const QString& argument : arguments)
        strings.push_back(argument.toStdString());
    const std::size_t argumentCount = strings.size();
    for (const QString& variable : environment.toStringList())
        strings.push_back(variable.toStdString());
    std::vector<char*> argv, envp;
    for (std::size_t i = 0; i < strings.size(); ++i)
        (i < argumentCount ? argv : envp).push_back(strings[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    winsize size{};
    size.ws_row = 24;
    size.ws_col = 120;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0)
        throw std::runtime_error("forkpty failed");
    if (pid == 0) {
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    const Descriptor terminal(master);
    ChildProcess child(pid);

    TerminalResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    bool ended = false;
    while (true) {
        pollfd ready{terminal.Get(), POLLIN, 0};
        // Once the program has ended, what it wrote is read without waiting.
        const int events = poll(&ready, 1, ended ? 0 : 100);
        if (events < 0 && errno == EINTR)
            continue;
        if (events > 0) {
            char buffer[4096];
            const ssize_t count = read(terminal.Get(), buffer, sizeof buffer);
            if (count > 0) {
                result.Output.append(buffer, count);
                continue;
            }
            if (count < 0 && errno == EINTR)
                continue;
            // EIO: the last holder of the terminal's other side has closed it.
            break;
        }
        if (ended || events < 0)
            break;
        if (const std::optional<int> code = child.Ended(false)) {
            result.ExitCode = *code;
            ended = true;
        } else if (std::chrono::steady_clock::now() > deadline) {
            throw std::runtime_error("Orvanto did not end on the terminal");
        }
    }
    if (!ended)
        result.ExitCode = child.Ended(true).value_or(-1);
    return result;
}

std::string Shown(const QByteArray& output) {
    return QString::fromLocal8Bit(output)
        .replace('\r', QStringLiteral("\\r"))
        .replace('\x1b', QStringLiteral("\\e"))
        .toStdString();
}

// A stream writing to memory (open_memstream), closed and freed when it goes.
class MemoryStream {
public:
    MemoryStream() : Stream(open_memstream(&Buffer, &Length)) {}
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;
    ~MemoryStream() {
        if (Stream)
            fclose(Stream);
        free(Buffer);
    }
    FILE* Get() const { return Stream; }
    std::string Text() const {
        fflush(Stream);
        return std::string(Buffer, Length);
    }

private:
    char* Buffer = nullptr;
    std::size_t Length = 0;
    FILE* Stream;
};

// Lines never mix: every live line drawn ("\r", text, "\x1b[K") is followed by a carriage return
// (its next drawing, its clearing, or the newline that ends it) and never by other text.
void ExpectLiveLinesKeptApart(const QByteArray& output) {
    for (qsizetype at = output.indexOf("\x1b[K"); at >= 0; at = output.indexOf("\x1b[K", at + 1)) {
        const bool cleared = at > 0 && output[at - 1] == '\r';
        if (!cleared) {
            EXPECT_EQ(output.mid(at + 3, 1), "\r")
                << "after the live line at " << at << ": " << Shown(output);
        }
    }
}

// Redirects the installation to a second nginx on the same site folder that sends every answer
// at 512 KB a second, so that a download lasts a few seconds and its line is redrawn.
std::unique_ptr<NginxServer> SlowServer(const DemoSite& site) {
    auto server = std::make_unique<NginxServer>(
        site.Folder() + "/site", NginxServer::Options(false, false, "limit_rate 512k;"));
    QByteArray settings = site.Read("velmora.ini");
    const QByteArray remote = site.RemoteUrl().toUtf8();
    if (!settings.contains(remote))
        throw std::runtime_error("velmora.ini names another server");
    site.Write("velmora.ini", settings.replace(remote, (server->BaseUrl() + "velmora/").toUtf8()));
    return server;
}

} // namespace

TEST(TerminalProgress, TheDownloadLineNamesBytesRateAndTimeLeft) {
    constexpr qint64 KB = 1024, MB = 1024 * 1024, GB = 1024 * MB;
    struct Row {
        qint64 Done, Total;
        double Rate;
        const char* Line;
    };
    const Row rows[] = {
        // Before half a second has passed there is no rate, nor time left.
        {0, 3000345, -1, "Download Velmora.exe  0 B di 2,9 MB"},
        {1, 1000, -1, "Download Velmora.exe  1 B di 1000 B"},
        {1536, 12900, -1, "Download Velmora.exe  2 KB di 13 KB"},
        // The boundaries round up to the next unit, never to "1024 KB".
        {MB - 1, 12 * MB + 300 * KB, -1, "Download Velmora.exe  1,0 MB di 12,3 MB"},
        {MB, 3 * MB, 256 * KB, "Download Velmora.exe  1,0 MB di 3,0 MB  256 KB/s  ancora 0:08"},
        // The time left rounds up: a second and a bit is two.
        {0, 1300 * KB, MB, "Download Velmora.exe  0 B di 1,3 MB  1,0 MB/s  ancora 0:02"},
        {0, 5 * GB, 1258291, "Download Velmora.exe  0 B di 5,0 GB  1,2 MB/s  ancora 1:11:07"},
        // Done: no time left; stalled: none either; hopelessly slow: left out.
        {3 * MB, 3 * MB, 256 * KB, "Download Velmora.exe  3,0 MB di 3,0 MB  256 KB/s"},
        {10, 20, 0, "Download Velmora.exe  10 B di 20 B  0 B/s"},
        {0, 5 * GB, 10, "Download Velmora.exe  0 B di 5,0 GB  10 B/s"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(DownloadLine("Download Velmora.exe", row.Done, row.Total, row.Rate).toStdString(),
                  row.Line);
}

TEST(TerminalProgress, TheRateFollowsTheLastSecondsOfTheTransfer) {
    TransferMeter meter;
    meter.Add(0, 0);
    meter.Add(400, 400000);
    EXPECT_LT(meter.BytesPerSecond(), 0) << "too soon to tell";
    // A fast first minute, with many small pieces, then the link slows to 100 KB a second.
    for (qint64 ms = 10; ms <= 60000; ms += 10)
        meter.Add(ms, ms * 1000);
    for (qint64 second = 61; second <= 70; ++second)
        meter.Add(second * 1000, 60000000 + (second - 60) * 100000);
    EXPECT_NEAR(meter.BytesPerSecond(), 100000, 1) << "the window forgot the fast minute";
    meter.Restart();
    EXPECT_LT(meter.BytesPerSecond(), 0);
}

// The line on a stream in memory, with a clock moved by hand.
TEST(TerminalProgress, TheLineIsRedrawnInPlaceAFewTimesASecondAndMakesWayForOtherLines) {
    MemoryStream stream;
    ASSERT_TRUE(stream.Get());
    const auto written = [&stream] {
        return stream.Text();
    };
    qint64 now = 1000;
    std::string expected;
    {
        TerminalProgress line(stream.Get(), [&now] { return now; });
        line.StartDownload();
        line.SetPackage("Download Velmora.exe");
        // The first drawing is at once; the next ones wait a quarter of a second.
        line.ShowDownload(2 * 1024 * 1024, 0);
        expected += "\rDownload Velmora.exe  0 B di 2,0 MB\x1b[K";
        now += 100;
        line.ShowDownload(2 * 1024 * 1024, 100 * 1024);
        EXPECT_EQ(written(), expected) << "too soon";
        now += 150;
        line.ShowDownload(2 * 1024 * 1024, 150 * 1024);
        expected += "\rDownload Velmora.exe  150 KB di 2,0 MB\x1b[K";
        EXPECT_EQ(written(), expected);
        // Half a second after the first count: 1 MB in all, at 2 MB a second.
        now += 250;
        line.SetPackage("Download BlokCore.dll");
        line.ShowDownload(2 * 1024 * 1024, 1024 * 1024);
        expected += "\rDownload BlokCore.dll  1,0 MB di 2,0 MB  2,0 MB/s  ancora 0:01\x1b[K";
        EXPECT_EQ(written(), expected);
        // Another line clears it; the next count draws it again at once.
        line.Clear();
        expected += "\r\x1b[K";
        now += 10;
        line.ShowDownload(2 * 1024 * 1024, 1024 * 1024 + 1);
        expected += "\rDownload BlokCore.dll  1,0 MB di 2,0 MB  2,0 MB/s  ancora 0:01\x1b[K";
        // The last byte is drawn at once, once.
        now += 10;
        line.ShowDownload(2 * 1024 * 1024, 2 * 1024 * 1024);
        line.ShowDownload(2 * 1024 * 1024, 2 * 1024 * 1024);
        expected += "\rDownload BlokCore.dll  2,0 MB di 2,0 MB  3,8 MB/s\x1b[K";
        EXPECT_EQ(written(), expected);
        line.Finish();
        line.Finish();
        expected += "\n";
        // The update: its last file is drawn at once and ends the line.
        line.ShowUpdate(7, 0);
        now += 10;
        line.ShowUpdate(7, 3);
        now += 10;
        line.ShowUpdate(7, 7);
        expected += "\rAggiornamento: 0 di 7\x1b[K\rAggiornamento: 7 di 7\x1b[K\n";
        EXPECT_EQ(written(), expected);
        // A line still shown when the object goes is ended.
        line.ShowUpdate(2, 1);
        expected += "\rAggiornamento: 1 di 2\x1b[K";
    }
    expected += "\n";
    EXPECT_EQ(written(), expected);
}

// The headless update on a real pseudo-terminal shows the live line and nothing else on stderr;
// on a pipe it writes plain lines, as it always did.
TEST(TerminalProgress, TheLiveLineIsDrawnOnATerminalAndNeverOnAPipe) {
    DemoSite terminal;
    const std::unique_ptr<NginxServer> slow = SlowServer(terminal);
    const TerminalResult live = RunOnTerminal(terminal, {"--update"});
    const QByteArray& output = live.Output;
    EXPECT_EQ(live.ExitCode, 0) << Shown(output);
    EXPECT_TRUE(output.contains("\rDownload Velmora.exe  ")) << Shown(output);
    EXPECT_TRUE(output.contains(" di 2,9 MB")) << Shown(output);
    const QRegularExpression rated("\\rDownload [^\\r]+  [0-9,]+ [KM]?B di 2,9 MB  [0-9,]+ "
                                   "[KM]?B/s  ancora 0:[0-9]{2}\x1b\\[K");
    EXPECT_TRUE(rated.match(QString::fromLocal8Bit(output)).hasMatch())
        << "the rate and time left, once half a second has passed: " << Shown(output);
    const QRegularExpression ended("\\rDownload [^\\r]+  2,9 MB di 2,9 MB[^\\r]*\x1b\\[K\\r\\n");
    EXPECT_TRUE(ended.match(QString::fromLocal8Bit(output)).hasMatch())
        << "the download's line, complete and ended";
    EXPECT_TRUE(output.contains("\rAggiornamento: 0 di 13\x1b[K"));
    EXPECT_TRUE(output.endsWith("\rAggiornamento: 13 di 13\x1b[K\r\n"))
        << "the update's line, ended";
    for (const QByteArray& line : output.split('\n')) {
        if (line.contains("Download ") || line.contains("Aggiornamento")) {
            EXPECT_TRUE(line.startsWith('\r') && line.contains("\x1b[K"))
                << "a plain line: " << Shown(line);
        }
    }
    ExpectLiveLinesKeptApart(output);

    DemoSite pipe;
    const DemoSite::Result plain = pipe.Run({"--update"});
    EXPECT_EQ(plain.ExitCode, 0);
    EXPECT_TRUE(plain.Errors.startsWith("Download ")) << plain.Errors.toStdString();
    EXPECT_TRUE(plain.Errors.contains("Download Velmora.exe\n"));
    EXPECT_TRUE(plain.Errors.endsWith("\nAggiornamento\n"));
    for (const QString& line : plain.Errors.split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith("Download ") || line == "Aggiornamento") << line.toStdString();
    for (const QString& stream : {plain.Output, plain.Errors}) {
        EXPECT_FALSE(stream.contains('\r'));
        EXPECT_FALSE(stream.contains("\x1b["));
    }
}

// A message during the download takes the live line's place, on its own line; a "dumb" terminal
// and a pipe get plain lines.
TEST(TerminalProgress, AMessageTakesThePlaceOfTheLiveLine) {
    DemoSite site;
    site.TamperWithPackage("BlokCore.dll");
    const QByteArray refused = "Impossibile scaricare 'BlokCore.dll'";

    const TerminalResult live = RunOnTerminal(site, {"--update"});
    EXPECT_EQ(live.ExitCode, 4) << Shown(live.Output);
    EXPECT_TRUE(live.Output.contains("\rDownload ")) << Shown(live.Output);
    EXPECT_TRUE(live.Output.contains("\r\x1b[K" + refused + "\r\n")) << Shown(live.Output);
    EXPECT_TRUE(live.Output.contains("\r\nImpossibile scaricare aggiornamenti"));
    ExpectLiveLinesKeptApart(live.Output);

    const TerminalResult dumb = RunOnTerminal(site, {"--update"}, "dumb");
    EXPECT_EQ(dumb.ExitCode, 4) << Shown(dumb.Output);
    EXPECT_TRUE(dumb.Output.contains("\r\nDownload BlokCore.dll\r\n" + refused + "\r\n"))
        << Shown(dumb.Output);
    EXPECT_FALSE(dumb.Output.contains("\x1b[")) << Shown(dumb.Output);

    const DemoSite::Result plain = site.Run({"--update"});
    EXPECT_EQ(plain.ExitCode, 4);
    EXPECT_TRUE(plain.Errors.contains(refused + "\n")) << plain.Errors.toStdString();
    EXPECT_FALSE(plain.Errors.contains('\r'));
    EXPECT_FALSE(plain.Errors.contains("\x1b["));
}

// --quiet keeps the results, messages, reasons and questions of each command, and nothing else,
// on a pipe and on a terminal. The runs follow one another on one installation.
TEST(TerminalProgress, QuietKeepsOnlyResultsMessagesAndErrors) {
    DemoSite site;
    enum class Before { Nothing, TamperWithPackage, Republish };
    enum class Where { Pipe, Terminal };
    struct Row {
        const char* What;
        Before Change;
        const char* Command;
        Where On;
        int ExitCode;
        // Whole outputs as patterns; on a terminal both streams are one, in Output.
        const char* Output;
        const char* Errors;
    };
    const Row rows[] = {
        {"check: the rows alone", Before::Nothing, "--check --quiet", Where::Pipe, 3,
         "Velmora\t3\\.11\\.0\t3\\.12\\.0\t2930\t1\n[^\n]+\t1\n[^\n]+\t1\n", ""},
        {"failed update on a terminal: the messages and the reason", Before::TamperWithPackage,
         "--update --quiet", Where::Terminal, 4,
         "Impossibile scaricare 'BlokCore\\.dll'\r\nControllo SHA-256 [^\r\n]+\r\n"
         "Impossibile scaricare aggiornamenti\r\n",
         ""},
        {"update on a terminal: nothing", Before::Republish, "--update --quiet", Where::Terminal, 0,
         "", ""},
        {"backups: the list alone", Before::Nothing, "--list-backups --quiet", Where::Pipe, 0,
         "[^\t\n]+\\.7z\t[^\t\n]+\n", ""},
        {"restore: the question and its answer", Before::Nothing, "--restore ARCHIVIO --quiet",
         Where::Pipe, 5, "", "Ripristinare l'archivio '[^']+'\\? No\n"},
    };
    QString archive;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.What);
        if (row.Change == Before::TamperWithPackage)
            site.TamperWithPackage("BlokCore.dll");
        else if (row.Change == Before::Republish)
            site.Republish();
        QStringList arguments = QString(row.Command).split(' ');
        arguments.replaceInStrings("ARCHIVIO", archive);
        int exitCode = -1;
        QString output, errors;
        if (row.On == Where::Terminal) {
            const TerminalResult run = RunOnTerminal(site, arguments);
            exitCode = run.ExitCode;
            output = QString::fromLocal8Bit(run.Output);
        } else {
            const DemoSite::Result run = site.Run(arguments);
            exitCode = run.ExitCode;
            output = run.Output;
            errors = run.Errors;
        }
        EXPECT_EQ(exitCode, row.ExitCode) << Shown(output.toLocal8Bit()) << errors.toStdString();
        const auto whole = [](const char* pattern) {
            return QRegularExpression(QRegularExpression::anchoredPattern(pattern));
        };
        EXPECT_TRUE(whole(row.Output).match(output).hasMatch()) << Shown(output.toLocal8Bit());
        EXPECT_TRUE(whole(row.Errors).match(errors).hasMatch()) << errors.toStdString();
        if (arguments.first() == "--list-backups")
            archive = output.section('\t', 0, 0);
    }
    EXPECT_TRUE(site.Read("Orvo/orvanto.log").contains("Inizio analisi ambiente\n"))
        << "the run log keeps what the terminal leaves out";
}
