#include "knownsignatures.h"

#include "catalogue/signature.h"
#include "core/error.h"
#include "environment/inifile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace {

const QString Section = QStringLiteral("FIRME");

QString RecordPath() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty())
        state = QDir::homePath() + "/.local/state";
    return state + "/orvanto-publish/firme.ini";
}

QByteArray ReadRecord() {
    QFile file(RecordPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

qint64 NewestKnownSigning(const QByteArray& keyId) {
    bool number = false;
    const qint64 time =
        IniText(ReadRecord()).ReadString(Section, KeyIdText(keyId), QString()).toLongLong(&number);
    return number ? time : -1;
}

bool RecordSigning(const QByteArray& keyId, qint64 signedAt) {
    if (signedAt <= NewestKnownSigning(keyId))
        return true;
    const IniText record(ReadRecord());
    QByteArray text = "[" + Section.toUtf8() + "]\n";
    for (const QString& key : record.Keys(Section)) {
        if (key != KeyIdText(keyId))
            text += (key + "=" + record.ReadString(Section, key, QString()) + "\n").toUtf8();
    }
    text += (KeyIdText(keyId) + "=" + QString::number(signedAt) + "\n").toUtf8();
    QDir().mkpath(QFileInfo(RecordPath()).path());
    QSaveFile file(RecordPath());
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

bool RecordSignatureFile(const QString& signatureFile) {
    QFile file(signatureFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    try {
        const Signature signature = ParseSignatureFile(file.readAll());
        return RecordSigning(signature.KeyId, SigningTime(signature.TrustedComment));
    } catch (const OrvantoError&) {
        return false;
    }
}
