#include "catalogue/signedcatalogue.h"

#include "catalogue/signature.h"
#include "core/error.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace {

const QString AcceptedSection = QStringLiteral("FIRMA");
const QString AcceptedKey = QStringLiteral("Ultimo catalogo accettato");

QString Moment(qint64 secondsSinceEpoch) {
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch).toString("dd/MM/yyyy HH:mm:ss");
}

// The signing time of the newest catalogue accepted so far, or -1.
qint64 LastAcceptedTime() {
    bool ok = false;
    const qint64 time = IniFile(AcceptedSignaturePath())
                            .ReadString(AcceptedSection, AcceptedKey, "")
                            .toLongLong(&ok);
    return ok ? time : -1;
}

} // namespace

QString AcceptedSignaturePath() {
    return JoinPath(GetProgramFolder(), QStringLiteral("Orvo/firma-catalogo.ini"));
}

QString CatalogueRefusedMessage(const QString& reason) {
    return QStringLiteral("Il catalogo degli aggiornamenti non porta una firma valida del "
                          "produttore (%1): nessun aggiornamento è proposto.")
        .arg(reason);
}

void VerifyCatalogue(FileSystem& files, const QString& publicKey, const QByteArray& catalogue,
                     const QByteArray& signatureFile) {
    qint64 signedAt = -1;
    try {
        const PublicKey key = ParsePublicKey(publicKey);
        const Signature signature = ParseSignatureFile(signatureFile);
        VerifySignature(key, signature, catalogue);
        signedAt = SigningTime(signature.TrustedComment);
    } catch (const OrvantoError& error) {
        throw OrvantoError(CatalogueRefusedMessage(error.Message()));
    }
    if (signedAt < 0)
        throw OrvantoError(
            CatalogueRefusedMessage(QStringLiteral("il commento firmato non porta la data")));
    const qint64 accepted = LastAcceptedTime();
    if (signedAt < accepted)
        throw OrvantoError(CatalogueRefusedMessage(
            QStringLiteral("firmato il %1, prima del catalogo già accettato del %2")
                .arg(Moment(signedAt), Moment(accepted))));
    if (signedAt == accepted)
        return;
    const QString path = AcceptedSignaturePath();
    if (!QDir().mkpath(QFileInfo(path).path()))
        throw OrvantoError::Failure(QStringLiteral("Creazione della cartella"),
                                    QFileInfo(path).path(), QStringLiteral("non riuscita"));
    WriteIniValue(files, path, AcceptedSection, AcceptedKey, QString::number(signedAt));
}

QString CatalogueProtection(const QString& remoteUrl, const QString& publicKey) {
    const bool plainHttp = remoteUrl.startsWith(QStringLiteral("http:"), Qt::CaseInsensitive);
    if (publicKey.trimmed().isEmpty())
        return plainHttp
                   ? QStringLiteral("Catalogo non firmato, su connessione non protetta (http)")
                   : QStringLiteral("Catalogo non firmato");
    try {
        return "Catalogo firmato, chiave " + KeyIdText(ParsePublicKey(publicKey).KeyId);
    } catch (const OrvantoError& error) {
        return "Chiave pubblica non valida: " + error.Message();
    }
}
