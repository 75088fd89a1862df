#include "support/updatesite.h"

#include "catalogue/requiredfiles.h"
#include "support/firebirdfixture.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <stdexcept>

UpdateSite::UpdateSite(const QString& schemaStep)
    : Http(Ui, {}),
      Log(Install.ProgramFolder() + "Orvo/orvanto.log"), Steps{Run,        Ui,    Http,
                                                               Connection, Files, Log} {
    QDir().mkpath(ServedFolder());
    Server = std::make_unique<NginxServer>(ServedFolder());
    Install.WriteSettings("[PRINCIPALE]\r\nVersione=3.11.0\r\n[ORVANTO]\r\nRemote url=" +
                          Server->BaseUrl().toUtf8() + "\r\n");
    CreateDatabase(DatabaseFile(), schemaStep);
    Run.CopyFolder = Install.CopyFolder();
    Run.BackupFolder = Install.BackupFolder();
    Run.RemoteUrl = Server->BaseUrl();
    Run.DatabasePath = DatabaseFile();
    Run.IsqlCommand = IsqlProgram;
    Run.Info.EmbeddedState = 2;
    BuildRequiredFiles(Run.RequiredFiles);
    Connection.SetDatabase(DatabaseFile());
}

void UpdateSite::WriteCatalogue(const QByteArray& content) const {
    WriteServed("update.ini", content);
}

void UpdateSite::WriteServed(const QString& name, const QByteArray& content) const {
    Install.WriteFile("site/" + name, content);
    MakeWorldReadable(ServedFolder());
}

void UpdateSite::PublishPackage(const QString& fileName, const QByteArray& content) const {
    QTemporaryDir work;
    const QString source = work.path() + "/" + fileName;
    QFile file(source);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        throw std::runtime_error("cannot write " + source.toStdString());
    file.close();
    const QString package = ServedFolder() + fileName + ".7z";
    QFile::remove(package);
    QProcess archiver;
    archiver.setProcessChannelMode(QProcess::MergedChannels);
    archiver.start("7za", {"a", "-mx1", package, source});
    if (!archiver.waitForFinished(60000) || archiver.exitCode() != 0)
        throw std::runtime_error("7za could not make " + package.toStdString());
    MakeWorldReadable(ServedFolder());
}
