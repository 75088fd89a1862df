#include "support/demosite.h"

#include "support/firebirdfixture.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <stdexcept>

namespace {

const QStringList DemoVersions = {"Orvanto=1.7.1",     "Velmora=3.12.0",    "7za=26.0.0.0",
                                  "Dbexpress=6.2.5.0", "Mappe=1.0.2210.55", "Schema database=206"};

QProcessEnvironment ToolEnvironment() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("FIREBIRD_LOCK", EmbeddedLockFolder());
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    return environment;
}

QString RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(ToolEnvironment());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(300000) || process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() +
                                 " failed: " + process.readAll().toStdString());
    return QString::fromLocal8Bit(process.readAll());
}

} // namespace

DemoSite::DemoSite() {
    QDir().mkpath(Dir.path() + "/site");
    Server = std::make_unique<NginxServer>(Dir.path() + "/site");
    RunTool("bash",
            {QStringLiteral(ORVANTO_SOURCE_DIR "/scripts/make-demo-site"), Dir.path(), RemoteUrl(),
             QStringLiteral(ORVANTO_EXECUTABLE), QStringLiteral(ORVANTO_PUBLISH)});
}

void DemoSite::Republish(const QStringList& changedVersions) const {
    QStringList versions = changedVersions;
    for (const QString& version : DemoVersions) {
        const QString component = version.section('=', 0, 0) + '=';
        if (std::none_of(versions.begin(), versions.end(),
                         [&](const QString& v) { return v.startsWith(component); }))
            versions.append(version);
    }
    RunTool(QStringLiteral(ORVANTO_PUBLISH),
            QStringList{"--sign", Dir.path() + "/chiave/minisign.key", ReleaseFolder(),
                        Dir.path() + "/site/velmora"} +
                versions);
    MakeWorldReadable(Dir.path() + "/site");
}

void DemoSite::PublishFailingScript() const {
    PublishScript(206, "ALTER TABLE CLIENTI ADD CITTA VARCHAR(60);\nCOMMIT;\n"
                       "INSERT INTO NON_ESISTE VALUES (1);\nCOMMIT;\n");
}

void DemoSite::PublishScript(long long step, const QByteArray& text,
                             const QStringList& changedVersions) const {
    QFile script(ReleaseFolder() + QStringLiteral("modifiche%1.sql").arg(step));
    if (!script.open(QIODevice::WriteOnly) || script.write(text) != text.size())
        throw std::runtime_error("cannot write " + script.fileName().toStdString());
    script.close();
    Republish(changedVersions + QStringList{"Schema database=" + QString::number(step)});
}

void DemoSite::ServeFrom(const QString& baseUrl) const {
    QByteArray settings = Read("velmora.ini");
    settings.replace(RemoteUrl().toUtf8(), (baseUrl + "velmora/").toUtf8());
    Write("velmora.ini", settings);
}

void DemoSite::TamperWithPackage(const QString& fileName) const {
    QTemporaryDir work;
    QFile file(work.path() + "/" + fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write("not what was published\n") < 0)
        throw std::runtime_error("cannot write the tampered file");
    file.close();
    const QString package = Dir.path() + "/site/velmora/" + fileName + ".7z";
    QFile::remove(package);
    RunTool("7za", {"a", package, file.fileName()});
    MakeWorldReadable(Dir.path() + "/site");
}

QByteArray DemoSite::Read(const QString& relativeToProgramFolder) const {
    QFile file(ProgramFolder() + relativeToProgramFolder);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void DemoSite::Write(const QString& relativeToProgramFolder, const QByteArray& content) const {
    QFile file(ProgramFolder() + relativeToProgramFolder);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        throw std::runtime_error("cannot write " + file.fileName().toStdString());
}

DemoSite::Result DemoSite::Run(const QStringList& arguments, const QStringList& wrapper) const {
    return Execute(wrapper + QStringList{ProgramFolder() + "Orvanto"} + arguments);
}

DemoSite::Result DemoSite::Shell(const QString& commandLine) const {
    return Execute({"sh", "-c", commandLine});
}

QProcessEnvironment DemoSite::RunEnvironment() const {
    QProcessEnvironment environment = ToolEnvironment();
    for (auto variable = Environment.begin(); variable != Environment.end(); ++variable)
        environment.insert(variable.key(), variable.value());
    return environment;
}

std::unique_ptr<QProcess> DemoSite::Start(const QStringList& arguments,
                                          const QStringList& wrapper) const {
    return Launch(wrapper + QStringList{ProgramFolder() + "Orvanto"} + arguments);
}

std::unique_ptr<QProcess> DemoSite::Launch(const QStringList& command) const {
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(RunEnvironment());
    process->start(command.first(), command.mid(1));
    if (!process->waitForStarted())
        throw std::runtime_error("cannot start " + command.first().toStdString());
    return process;
}

DemoSite::Result DemoSite::Finish(QProcess& process) {
    if (!process.waitForFinished(300000))
        throw std::runtime_error(process.program().toStdString() + " did not end");
    Result result;
    result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.Output = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.Errors = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

DemoSite::Result DemoSite::Execute(const QStringList& command) const {
    const std::unique_ptr<QProcess> process = Launch(command);
    const qint64 id = process->processId();
    Result result = Finish(*process);
    result.ProcessId = id;
    return result;
}

QStringList DemoSite::RenamesDuring(const QStringList& arguments,
                                    const QStringList& straceOptions) const {
    QTemporaryDir folder;
    const QString trace = folder.filePath("trace");
    Run(arguments, QStringList{"strace", "-qq", "-o", trace, "-e", "trace=rename"} + straceOptions);
    QFile file(trace);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList renames;
    static const QRegularExpression call(R"re(^rename\("([^"]*)", "([^"]*)"\))re");
    for (const QString& line : QString::fromUtf8(file.readAll()).split('\n')) {
        const QRegularExpressionMatch match = call.match(line);
        if (match.hasMatch())
            renames.append(match.captured(1) + '|' + match.captured(2));
    }
    return renames;
}
