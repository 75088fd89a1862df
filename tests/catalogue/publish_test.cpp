#include "support/minisign.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Outcome {
    int ExitCode;
    QByteArray Output;
};

// Runs a program with the text on its standard input, as a person typing a password would.
Outcome RunWithInput(const QString& program, const QStringList& arguments,
                     const QByteArray& input) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000))
        return {-1, process.readAll()};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAll()};
}

} // namespace

TEST(Publish, SignsTheCatalogueWithAPasswordProtectedKey) {
    QTemporaryDir dir;
    const QString keys = dir.path() + "/chiave";
    QDir().mkpath(keys);
    const Outcome made =
        RunWithInput("minisign", {"-G", "-p", keys + "/minisign.pub", "-s", keys + "/minisign.key"},
                     "parola segreta\nparola segreta\n");
    ASSERT_EQ(made.ExitCode, 0) << made.Output.toStdString();
    const QString release = dir.path() + "/release";
    const QString served = dir.path() + "/site";
    QDir().mkpath(release);
    QFile file(release + "/Velmora.exe");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("Velmora 3.12.0") > 0);
    file.close();

    const QStringList publish = {"--sign", keys + "/minisign.key", release, served,
                                 "Velmora=3.12.0"};
    const Outcome signedRun =
        RunWithInput(QStringLiteral(ORVANTO_PUBLISH), publish, "parola segreta\n");
    ASSERT_EQ(signedRun.ExitCode, 0) << signedRun.Output.toStdString();
    // The real minisign accepts what was published, with the signing time in the trusted comment.
    const QByteArray verified =
        RunChecked("minisign", {"-V", "-p", keys + "/minisign.pub", "-m", served + "/update.ini"});
    EXPECT_TRUE(verified.contains("Trusted comment: timestamp:")) << verified.toStdString();

    const Outcome wrong =
        RunWithInput(QStringLiteral(ORVANTO_PUBLISH), publish, "parola sbagliata\n");
    EXPECT_EQ(wrong.ExitCode, 1);
    EXPECT_TRUE(wrong.Output.contains("minisign non ha firmato")) << wrong.Output.toStdString();
    EXPECT_FALSE(QFile::exists(served + "/update.ini.minisig"))
        << "no signature of the earlier catalogue stays";

    // Published again without a key: an earlier signature does not stay beside a new catalogue.
    ASSERT_TRUE(QFile::copy(served + "/update.ini", served + "/update.ini.minisig"));
    const Outcome unsignedRun =
        RunWithInput(QStringLiteral(ORVANTO_PUBLISH), publish.mid(2), QByteArray());
    ASSERT_EQ(unsignedRun.ExitCode, 0) << unsignedRun.Output.toStdString();
    EXPECT_FALSE(QFile::exists(served + "/update.ini.minisig"));
}
