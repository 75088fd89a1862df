#include "catalogue/versionresource.h"
#include "support/demosite.h"
#include "support/firebirdfixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const char* const ScriptColumnCount = "SELECT COUNT(*) FROM RDB$RELATION_FIELDS WHERE "
                                      "RDB$RELATION_NAME = 'CLIENTI' AND RDB$FIELD_NAME = 'CITTA'";
const char* const SchemaStep = "SELECT CAST(RDB$DESCRIPTION AS VARCHAR(20)) FROM RDB$DATABASE";

QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden);
}

class EndToEndTest : public ::testing::Test {
protected:
    // Everything a failed update must leave as it was.
    struct Snapshot {
        QByteArray Executable, Settings, Archiver;
        QString Schema, Column;
        bool operator==(const Snapshot&) const = default;
        friend void PrintTo(const Snapshot& s, std::ostream* out) {
            *out << "executable " << s.Executable.left(30).toStdString() << ", settings "
                 << s.Settings.toStdString() << ", archiver " << s.Archiver.size()
                 << " bytes, schema " << s.Schema.toStdString() << ", column "
                 << s.Column.toStdString();
        }
    };

    Snapshot Take() const {
        return {Site.Read("Velmora.exe"), Site.Read("velmora.ini"), Site.Read("7za.exe"),
                QueryValue(Site.DatabaseFile(), SchemaStep),
                QueryValue(Site.DatabaseFile(), ScriptColumnCount)};
    }

    DemoSite Site;
};

} // namespace

TEST_F(EndToEndTest, HeadlessUpdateInstallsEverythingProposed) {
    const QByteArray settingsBefore = Site.Read("velmora.ini");
    const QByteArray executableBefore = Site.Read("Velmora.exe");
    const DemoSite::Result check = Site.Run({"--check"});
    EXPECT_EQ(check.ExitCode, 3) << check.Errors.toStdString();
    EXPECT_TRUE(check.Output.startsWith("Inizio analisi ambiente\n"));
    EXPECT_TRUE(check.Output.contains("Velmora\t3.11.0\t3.12.0\t2930\t1\n"))
        << check.Output.toStdString();
    EXPECT_TRUE(check.Output.contains("7za\t16.2.0.0\t26.0.0.0\t"));
    EXPECT_TRUE(check.Output.contains("Schema database\t205\t206\t0\t1\n"));
    EXPECT_TRUE(check.Output.contains("\nCatalogo firmato, chiave ")) << check.Output.toStdString();

    const DemoSite::Result update = Site.Run({"--update"});
    ASSERT_EQ(update.ExitCode, 0) << update.Errors.toStdString();
    EXPECT_TRUE(Site.Read("Velmora.exe").startsWith("Velmora 3.12.0: Velmora.exe"));
    EXPECT_EQ(Site.Read("Velmora.bak"), executableBefore);
    EXPECT_EQ(Site.Read("BlokCore.dll"), QByteArray("Velmora 3.12.0: BlokCore.dll\n"));
    EXPECT_EQ(ReadVersionString(Site.ProgramFolder() + "7za.exe", "FileVersion"),
              QString("26.0.0.0"));
    QByteArray expectedSettings = settingsBefore;
    expectedSettings.replace("Versione=3.11.0", "Versione=3.12.0");
    EXPECT_EQ(Site.Read("velmora.ini"), expectedSettings) << "only Versione changes";
    EXPECT_EQ(QueryValue(Site.DatabaseFile(), SchemaStep), QString("206"));
    EXPECT_EQ(QueryValue(Site.DatabaseFile(), ScriptColumnCount), QString("1"));
    EXPECT_EQ(FilesIn(Site.ProgramFolder() + "Orvo/Copiare"), QStringList())
        << "work folder emptied";
    EXPECT_EQ(FilesIn(Site.ProgramFolder() + "Orvo/Backup").size(), 1);

    EXPECT_EQ(Site.Run({"--check"}).ExitCode, 0) << "nothing left to update";
    EXPECT_EQ(Site.Run({"--update"}).ExitCode, 0);
    EXPECT_EQ(FilesIn(Site.ProgramFolder() + "Orvo/Backup").size(), 1)
        << "no backup when nothing is proposed";
}

TEST_F(EndToEndTest, AFailingScriptRollsFilesAndDatabaseBack) {
    Site.PublishFailingScript();
    const Snapshot before = Take();

    const DemoSite::Result update = Site.Run({"--update"});
    EXPECT_EQ(update.ExitCode, 4);
    EXPECT_TRUE(update.Errors.contains("Impossibile applicare gli aggiornamenti"))
        << update.Errors.toStdString();
    Snapshot after = Take();
    EXPECT_EQ(ReadVersionString(Site.ProgramFolder() + "7za.exe", "FileVersion"),
              QString("26.0.0.0"))
        << "the rollback never touches the archiver, installed before the script ran";
    after.Archiver = before.Archiver;
    EXPECT_EQ(after, before) << "files, settings and database as before the update";
    EXPECT_EQ(FilesIn(Site.ProgramFolder() + "Orvo/Backup").size(), 1) << "the archive stays";
}

TEST_F(EndToEndTest, ACorruptedPackageIsCaughtByItsChecksum) {
    Site.TamperWithPackage("BlokCore.dll");
    const Snapshot before = Take();
    const DemoSite::Result update = Site.Run({"--update"});
    EXPECT_EQ(update.ExitCode, 4);
    EXPECT_TRUE(update.Errors.contains("Impossibile scaricare 'BlokCore.dll'"))
        << update.Errors.toStdString();
    EXPECT_TRUE(update.Errors.contains("Impossibile scaricare aggiornamenti"));
    EXPECT_EQ(Take(), before);
    EXPECT_EQ(FilesIn(Site.ProgramFolder() + "Orvo/Backup"), QStringList())
        << "no backup after a failed download";
}

TEST_F(EndToEndTest, APackageAndCatalogueChangedOnTheServerAreRefusedByTheSignature) {
    // Whoever answers for the server swaps a package and puts its checksum into the catalogue.
    Site.TamperWithPackage("BlokCore.dll");
    const QString served = Site.Folder() + "/site/velmora/";
    QFile package(served + "BlokCore.dll.7z");
    ASSERT_TRUE(package.open(QIODevice::ReadOnly));
    const QByteArray checksum =
        QCryptographicHash::hash(package.readAll(), QCryptographicHash::Sha256).toHex();
    QFile catalogue(served + "update.ini");
    ASSERT_TRUE(catalogue.open(QIODevice::ReadWrite));
    QByteArray text = catalogue.readAll();
    const qsizetype line = text.indexOf("BlokCore.dll.7z=");
    ASSERT_GE(line, 0);
    text.replace(line + 16, 64, checksum);
    ASSERT_TRUE(catalogue.seek(0) && catalogue.write(text) == text.size());
    catalogue.close();

    const Snapshot before = Take();
    const DemoSite::Result update = Site.Run({"--update"});
    EXPECT_EQ(update.ExitCode, 4);
    EXPECT_TRUE(update.Errors.contains("non porta una firma valida del produttore"))
        << update.Errors.toStdString();
    EXPECT_EQ(Take(), before);
    EXPECT_EQ(FilesIn(Site.ProgramFolder() + "Orvo/Copiare"), QStringList()) << "nothing fetched";
    EXPECT_EQ(FilesIn(Site.ProgramFolder() + "Orvo/Backup"), QStringList());
}

TEST_F(EndToEndTest, RestoresAnOlderBackupOnlyWhenConfirmed) {
    const Snapshot before = Take();
    ASSERT_EQ(Site.Run({"--update"}).ExitCode, 0);
    const Snapshot after = Take();
    ASSERT_NE(after, before);

    const DemoSite::Result list = Site.Run({"--list-backups"});
    ASSERT_EQ(list.ExitCode, 0);
    const QString archive = list.Output.section('\t', 0, 0);
    ASSERT_TRUE(archive.endsWith(".7z")) << list.Output.toStdString();

    const DemoSite::Result unconfirmed = Site.Run({"--restore", archive});
    EXPECT_EQ(unconfirmed.ExitCode, 5);
    EXPECT_TRUE(unconfirmed.Errors.contains("Ripristinare l'archivio '" + archive + "'?"));
    EXPECT_EQ(Take(), after);

    EXPECT_EQ(Site.Run({"--restore", "990101_000000.7z", "--yes"}).ExitCode, 4)
        << "not a listed archive";

    const DemoSite::Result restore = Site.Run({"--restore", archive, "--yes"});
    EXPECT_EQ(restore.ExitCode, 0) << restore.Errors.toStdString();
    const Snapshot restored = Take();
    EXPECT_EQ(restored.Executable, before.Executable);
    EXPECT_EQ(restored.Schema, before.Schema) << "the database came back from the archive";
    EXPECT_EQ(restored.Column, before.Column);
    EXPECT_EQ(restored.Archiver, after.Archiver) << "the archiver is never restored";

    // The run log keeps the question, its answer and the restore as a step.
    const QString log = QString::fromUtf8(Site.Read("Orvo/orvanto.log"));
    const QString asked = "Domanda: Ripristinare l'archivio '" + archive + "'?";
    EXPECT_TRUE(log.contains(asked + "\n")) << log.toStdString();
    EXPECT_TRUE(log.contains("Risposta: No\n"));
    EXPECT_TRUE(log.contains("Archivio non trovato: '990101_000000.7z'\n"));
    EXPECT_TRUE(log.contains("Risposta: Sì\n"));
    EXPECT_TRUE(log.contains(
        QRegularExpression("Fine: ripristino della copia di sicurezza \\S+/Orvo/Backup/" +
                           QRegularExpression::escape(archive) + " \\([0-9]+,[0-9] s\\)\n")))
        << log.toStdString();
}

TEST_F(EndToEndTest, ReplacingItsOwnExecutableRestartsTheUpdater) {
    // A stand-in for the new updater: it records its process id and arguments.
    QFile::remove(Site.ReleaseFolder() + "Orvanto");
    ASSERT_TRUE(QFile::copy(ORVANTO_RESTART_STANDIN, Site.ReleaseFolder() + "Orvanto"));
    Site.Republish({"Orvanto=1.7.2"});

    const DemoSite::Result check = Site.Run({"--check"});
    EXPECT_EQ(check.ExitCode, 3);
    EXPECT_TRUE(check.Output.contains("Orvanto\t1.7.1\t1.7.2\t")) << check.Output.toStdString();
    EXPECT_FALSE(check.Output.contains("Velmora\t")) << "the updater comes first, alone";

    const DemoSite::Result update = Site.Run({"--update", "--show-all"});
    EXPECT_EQ(update.ExitCode, 0) << update.Errors.toStdString();
    EXPECT_EQ(Site.Read("restarted.txt"),
              QString("%1 --update --show-all\n").arg(update.ProcessId).toUtf8())
        << "the same process now runs the new executable, with the same command and options";
    EXPECT_TRUE(Site.Read("Orvanto.bak")
                    .startsWith("\x7f"
                                "ELF"))
        << "the old executable is kept";
    EXPECT_TRUE(QFileInfo(Site.ProgramFolder() + "Orvanto").isExecutable());
    EXPECT_FALSE(QFile::exists(Site.ProgramFolder() + "Orvo/aggiornamento-in-corso.ini"));
}

TEST_F(EndToEndTest, ANewUpdaterThatCannotRunHereIsRefusedAndTheOldOneKept) {
    const struct {
        const char* Case;
        QByteArray Content;
    } table[] = {
        {"a script", "#!/bin/sh\necho new updater\n"},
        {"an ELF file of another machine",
         // 64-bit, little-endian, an executable (type 2) for AArch64 (machine 183)
         QByteArray("\x7f"
                    "ELF\x02\x01\x01",
                    7) +
             QByteArray(9, '\0') + QByteArray("\x02\x00\xb7\x00", 4) + QByteArray(44, '\0')},
    };
    const QByteArray updater = Site.Read("Orvanto");
    for (const auto& row : table) {
        QFile file(Site.ReleaseFolder() + "Orvanto");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(row.Content);
        file.close();
        Site.Republish({"Orvanto=1.7.2"});
        const DemoSite::Result update = Site.Run({"--update"});
        EXPECT_EQ(update.ExitCode, 4) << row.Case;
        EXPECT_TRUE(update.Errors.contains("Impossibile applicare gli aggiornamenti")) << row.Case;
        EXPECT_EQ(Site.Read("Orvanto"), updater) << row.Case;
        EXPECT_TRUE(QFileInfo(Site.ProgramFolder() + "Orvanto").isExecutable()) << row.Case;
        EXPECT_EQ(Site.Run({"--check"}).ExitCode, 3) << row.Case << ": the old updater still runs";
    }
}

TEST_F(EndToEndTest, ARestartThatFailsPutsTheOldUpdaterBack) {
    QFile::remove(Site.ReleaseFolder() + "Orvanto");
    ASSERT_TRUE(QFile::copy(ORVANTO_RESTART_STANDIN, Site.ReleaseFolder() + "Orvanto"));
    Site.Republish({"Orvanto=1.7.2"});
    const QByteArray updater = Site.Read("Orvanto");
    // The execve that starts the updater is not counted: the first counted one, the restart,
    // fails.
    const DemoSite::Result update =
        Site.Run({"--update"}, {"strace", "-qq", "-o", "/dev/null", "-e", "trace=execve", "-e",
                                "inject=execve:error=ENOEXEC:when=1"});
    EXPECT_EQ(update.ExitCode, 4) << update.Errors.toStdString();
    EXPECT_TRUE(update.Errors.contains("Impossibile applicare gli aggiornamenti"));
    EXPECT_EQ(Site.Read("Orvanto"), updater);
    EXPECT_FALSE(QFile::exists(Site.ProgramFolder() + "restarted.txt"));
    EXPECT_FALSE(QFile::exists(Site.ProgramFolder() + "Orvo/aggiornamento-in-corso.ini"));
}

TEST_F(EndToEndTest, ANewUpdaterThatStartsAndFailsIsRefusedAndTheUpdateRolledBack) {
    const struct {
        const char* Case;
        const char* Program;
        const char* Announced;
        const char* Reason;
    } table[] = {
        {"a crash", ORVANTO_UPDATER_SEGFAULT, "1.7.2", "--version"},
        {"exit 127", ORVANTO_UPDATER_EXIT127, "1.7.2", "codice 127"},
        {"exit 0 without a word", ORVANTO_UPDATER_SILENT, "1.7.2", "la versione ''"},
        {"another version", ORVANTO_RESTART_STANDIN, "1.7.3", "la versione '1.7.2'"},
        {"no answer", ORVANTO_UPDATER_HANG, "1.7.2", "entro 10 s"},
    };
    const QByteArray updater = Site.Read("Orvanto");
    for (const auto& row : table) {
        QFile::remove(Site.ReleaseFolder() + "Orvanto");
        ASSERT_TRUE(QFile::copy(row.Program, Site.ReleaseFolder() + "Orvanto"));
        Site.Republish({QString("Orvanto=") + row.Announced});
        const DemoSite::Result update = Site.Run({"--update"});
        EXPECT_EQ(update.ExitCode, 4) << row.Case << ": " << update.Errors.toStdString();
        EXPECT_TRUE(update.Errors.contains("Impossibile applicare gli aggiornamenti")) << row.Case;
        EXPECT_TRUE(update.Errors.contains(row.Reason))
            << row.Case << ": " << update.Errors.toStdString();
        EXPECT_EQ(Site.Read("Orvanto"), updater) << row.Case;
        EXPECT_TRUE(QFileInfo(Site.ProgramFolder() + "Orvanto").isExecutable()) << row.Case;
        EXPECT_FALSE(QFile::exists(Site.ProgramFolder() + "Orvo/aggiornamento-in-corso.ini"))
            << row.Case;
        EXPECT_FALSE(QFile::exists(Site.ProgramFolder() + "restarted.txt")) << row.Case;
        const QString log = QString::fromUtf8(Site.Read("Orvo/orvanto.log"));
        EXPECT_TRUE(log.contains("Il nuovo Orvanto ")) << row.Case;
        EXPECT_EQ(Site.Run({"--check"}).ExitCode, 3) << row.Case << ": the old updater still runs";
    }
}

TEST_F(EndToEndTest, TellsItsVersionWithoutSettingsGuardOrLog) {
    QTemporaryDir elsewhere;
    const QString program = elsewhere.filePath("Orvanto");
    ASSERT_TRUE(QFile::copy(Site.ProgramFolder() + "Orvanto", program));
    QProcess process;
    process.setProcessEnvironment(Site.RunEnvironment());
    process.start(program, {"--version"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_EQ(process.readAllStandardOutput(), "1.7.1\n")
        << "the version that the check shows for Orvanto";
    EXPECT_EQ(QDir(elsewhere.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"Orvanto"})
        << "no Orvo folder, no log";
    const DemoSite::Result check = Site.Run({"--check", "--show-all"});
    EXPECT_TRUE(check.Output.contains("Orvanto\t1.7.1\t")) << check.Output.toStdString();
}
