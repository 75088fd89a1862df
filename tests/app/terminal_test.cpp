#include "app/terminalprogress.h"
#include "support/demosite.h"

#include <gtest/gtest.h>

TEST(TerminalProgress, TheDownloadLineNamesBytesRateAndTimeLeft) {
    struct Row {
        qint64 Done, Total;
        double Rate;
        const char* Line;
    };
    const Row rows[] = {
        {0, 3000345, -1, "Download Velmora.exe  0 KB di 2,9 MB"},
        {1, 1000, -1, "Download Velmora.exe  1 KB di 1 KB"},
        {1048576, 3145728, 262144, "Download Velmora.exe  1,0 MB di 3,0 MB  256 KB/s  ancora 0:08"},
        {0, 5LL * 1024 * 1024 * 1024, 1048576,
         "Download Velmora.exe  0 KB di 5,0 GB  1,0 MB/s  ancora 85:20"},
        {3145728, 3145728, 262144, "Download Velmora.exe  3,0 MB di 3,0 MB  256 KB/s"},
        {10, 20, 0, "Download Velmora.exe  1 KB di 1 KB  0 KB/s"},
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
    // A fast first minute, then the link slows to 100 KB a second.
    for (qint64 second = 1; second <= 60; ++second)
        meter.Add(second * 1000, second * 1000000);
    for (qint64 second = 61; second <= 70; ++second)
        meter.Add(second * 1000, 60000000 + (second - 60) * 100000);
    EXPECT_NEAR(meter.BytesPerSecond(), 100000, 1) << "the window forgot the fast minute";
    meter.Restart();
    EXPECT_LT(meter.BytesPerSecond(), 0);
}

// The headless update on a real pseudo-terminal (script(1) runs it on one) shows the live line;
// on a pipe the output is plain lines.
TEST(TerminalProgress, TheLiveLineIsDrawnOnATerminalAndNeverOnAPipe) {
    DemoSite terminal;
    const DemoSite::Result live =
        terminal.Shell("script -qec '" + terminal.ProgramFolder() + "Orvanto --update' /dev/null");
    EXPECT_EQ(live.ExitCode, 0) << live.Output.toStdString();
    EXPECT_TRUE(live.Output.contains("\rDownload Velmora.exe  ")) << live.Output.toStdString();
    EXPECT_TRUE(live.Output.contains(" di 2,9 MB"));
    EXPECT_TRUE(live.Output.contains("\x1b[K"));
    EXPECT_TRUE(live.Output.contains("\rAggiornamento: 13 di 13\x1b[K\r\n"))
        << "the update's line, ended";
    EXPECT_FALSE(live.Output.contains("\r\nDownload Velmora.exe\r\n")) << "no plain captions";

    DemoSite pipe;
    const DemoSite::Result plain = pipe.Run({"--update"});
    EXPECT_EQ(plain.ExitCode, 0);
    EXPECT_TRUE(plain.Errors.startsWith("Download Velmora.exe\n")) << plain.Errors.toStdString();
    EXPECT_TRUE(plain.Errors.contains("\nAggiornamento\n"));
    for (const QString& output : {plain.Output, plain.Errors}) {
        EXPECT_FALSE(output.contains('\r'));
        EXPECT_FALSE(output.contains("\x1b["));
    }
}

TEST(TerminalProgress, QuietKeepsOnlyTheResults) {
    DemoSite site;
    const DemoSite::Result check = site.Run({"--check", "--quiet"});
    EXPECT_EQ(check.ExitCode, 3);
    EXPECT_TRUE(check.Output.startsWith("Velmora\t3.11.0\t3.12.0\t2930\t1\n"))
        << check.Output.toStdString();
    EXPECT_EQ(check.Output.count('\n'), 3) << "the rows alone";
    EXPECT_EQ(check.Errors.toStdString(), "");

    const DemoSite::Result update = site.Run({"--update", "--quiet"});
    EXPECT_EQ(update.ExitCode, 0);
    EXPECT_EQ((update.Output + update.Errors).toStdString(), "");
    EXPECT_TRUE(site.Read("Orvo/orvanto.log").contains("Inizio analisi ambiente\n"))
        << "the run log keeps what the terminal leaves out";
}
