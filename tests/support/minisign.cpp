#include "support/minisign.h"

#include <QFile>
#include <QProcess>
#include <stdexcept>

QByteArray RunChecked(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        throw std::runtime_error((program + " " + arguments.join(' ') + ": ").toStdString() +
                                 process.readAll().toStdString());
    return process.readAll();
}

MinisignKey::MinisignKey() {
    RunChecked("minisign", {"-G", "-W", "-p", Dir.path() + "/minisign.pub", "-s", SecretKeyFile()});
}

namespace {

QList<QByteArray> PublicKeyFileLines(const QString& folder) {
    QFile file(folder + "/minisign.pub");
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("no public key in " + folder.toStdString());
    return file.readAll().split('\n');
}

} // namespace

QString MinisignKey::PublicKeyLine() const {
    return QString::fromLatin1(PublicKeyFileLines(Dir.path()).value(1));
}

QString MinisignKey::KeyId() const {
    // minisign prints the id without leading zeros; the updater always shows all 16 digits.
    return QString::fromLatin1(PublicKeyFileLines(Dir.path()).value(0).split(' ').last())
        .rightJustified(16, '0');
}

QByteArray MinisignKey::Sign(const QByteArray& content, Format format,
                             const QString& trustedComment) const {
    const QString message = Dir.path() + "/update.ini";
    QFile file(message);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(content) != content.size())
        throw std::runtime_error("cannot write " + message.toStdString());
    file.close();
    QStringList arguments = {"-S", "-s", SecretKeyFile(), "-m", message};
    if (format == Format::Legacy)
        arguments << "-l";
    if (!trustedComment.isEmpty())
        arguments << "-t" << trustedComment;
    RunChecked("minisign", arguments);
    QFile signature(message + ".minisig");
    if (!signature.open(QIODevice::ReadOnly))
        throw std::runtime_error("minisign wrote no signature for " + message.toStdString());
    return signature.readAll();
}
