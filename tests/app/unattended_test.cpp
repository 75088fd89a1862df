#include "support/demosite.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The unattended runs the README documents, run as written on the demo installation (in place of
// /opt/velmora), with a recording stand-in for logger.
namespace {

QString Readme() {
    QFile file(QStringLiteral(ORVANTO_SOURCE_DIR "/README.md"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The rest of the first README line that starts with the text.
QString ReadmeLineAfter(const QString& start) {
    for (const QString& line : Readme().split('\n')) {
        if (line.startsWith(start))
            return line.mid(start.size());
    }
    return {};
}

class UnattendedTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Bin.isValid());
        QFile logger(Bin.path() + "/logger");
        ASSERT_TRUE(logger.open(QIODevice::WriteOnly));
        logger.write("#!/bin/sh\necho \"$*\" >> \"$(dirname \"$0\")/logged\"\n");
        logger.close();
        logger.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        Site.Environment["PATH"] = Bin.path() + ":" + qEnvironmentVariable("PATH");
    }

    // The documented line with the demo installation's folder.
    QString ForDemo(const QString& line) const {
        QString folder = Site.ProgramFolder();
        folder.chop(1);
        return QString(line).replace("/opt/velmora", folder);
    }

    QByteArray Logged() const {
        QFile file(Bin.path() + "/logged");
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir Bin;
    DemoSite Site;
};

} // namespace

TEST_F(UnattendedTest, TheCronEntryUpdatesAndLogsOnlyAFailure) {
    const QString entry = ReadmeLineAfter("30 2 * * * root ");
    ASSERT_FALSE(entry.isEmpty()) << "the README's cron entry";

    // The first night the server misses a package: the installation stays, the failure is logged.
    const QString package = Site.Folder() + "/site/velmora/BlokCore.dll.7z";
    ASSERT_TRUE(QFile::rename(package, package + ".via"));
    const DemoSite::Result failed = Site.Shell(ForDemo(entry));
    EXPECT_EQ(failed.ExitCode, 0) << "cron sees the case handled";
    EXPECT_EQ(failed.Output.toStdString(), "") << "--quiet: no analysis log";
    EXPECT_TRUE(failed.Errors.contains("Impossibile scaricare aggiornamenti\n"
                                       "Richiesta HTTP "))
        << failed.Errors.toStdString();
    EXPECT_TRUE(Logged().startsWith("-t orvanto aggiornamento di Velmora non riuscito: vedi " +
                                    Site.ProgramFolder().toUtf8() + "Orvo/orvanto.log"))
        << Logged().toStdString();
    EXPECT_TRUE(Site.Read("Velmora.exe").startsWith("Velmora 3.11.0"));

    // The next night it is back: the update goes through in silence.
    ASSERT_TRUE(QFile::rename(package + ".via", package));
    const QByteArray loggedBefore = Logged();
    const DemoSite::Result updated = Site.Shell(ForDemo(entry));
    EXPECT_EQ(updated.ExitCode, 0);
    EXPECT_EQ((updated.Output + updated.Errors).toStdString(), "");
    EXPECT_EQ(Logged(), loggedBefore);
    EXPECT_TRUE(Site.Read("Velmora.exe").startsWith("Velmora 3.12.0"));
    EXPECT_TRUE(Site.Read("Orvo/orvanto.log").contains("Esito: aggiornamento riuscito\n"));
}

TEST_F(UnattendedTest, TheSystemdServiceRunsTheUpdateWithItsSuccessCodes) {
    const QString folder = ReadmeLineAfter("WorkingDirectory=");
    const QString command = ReadmeLineAfter("ExecStart=");
    const QString success = ReadmeLineAfter("SuccessExitStatus=");
    ASSERT_EQ(folder, "/opt/velmora");
    ASSERT_FALSE(command.isEmpty());

    const DemoSite::Result updated = Site.Shell(ForDemo("cd " + folder + " && " + command));
    EXPECT_EQ(updated.ExitCode, 0) << updated.Errors.toStdString();
    EXPECT_EQ((updated.Output + updated.Errors).toStdString(), "");
    EXPECT_TRUE(Site.Read("Velmora.exe").startsWith("Velmora 3.12.0"));

    // Another Orvanto running from the folder (exit 1) leaves the unit successful.
    EXPECT_TRUE(success.split(' ').contains("1")) << success.toStdString();
}
