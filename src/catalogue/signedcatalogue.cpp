#include "catalogue/signedcatalogue.h"

#include "catalogue/signature.h"
#include "core/error.h"
#include "core/workfolder.h"
#include "environment/inifile.h"
#include "environment/lowlevel.h"

#include <QDateTime>
#include <QFileInfo>
#include <optional>

namespace {

const QString AcceptedSection = QStringLiteral("FIRMA");
const QString AcceptedKey = QStringLiteral("Ultimo catalogo accettato");
const QString UnreadableRecord =
    QStringLiteral("non si può leggere la data dell'ultimo catalogo accettato da %1 (%2): "
                   "controllare il file");

QString Moment(qint64 secondsSinceEpoch) {
    return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch).toString("dd/MM/yyyy HH:mm:ss");
}

// The signing time of the newest catalogue accepted so far, or -1 before the first. A record
// that cannot be read or holds no time refuses the catalogue: taking it for the first check would
// let an older catalogue through.
qint64 LastAcceptedTime() {
    const QString path = AcceptedSignaturePath();
    std::optional<QByteArray> record;
    try {
        record = ReadWorkFile(path);
    } catch (const OrvantoError& error) {
        throw OrvantoError(CatalogueRefusedMessage(UnreadableRecord.arg(path, error.Message())));
    }
    if (!record)
        return -1;
    bool ok = false;
    const qint64 time =
        IniText(*record).ReadString(AcceptedSection, AcceptedKey, "").toLongLong(&ok);
    if (!ok || time < 0)
        throw OrvantoError(CatalogueRefusedMessage(
            UnreadableRecord.arg(path, QStringLiteral("la data manca o non è un numero intero"))));
    return time;
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
    PublicKey key;
    try {
        key = ParsePublicKey(publicKey);
    } catch (const OrvantoError& error) {
        // The installation's own key is wrong, not the maker's signature.
        throw OrvantoError("La chiave pubblica del produttore in " + FindSettingsFile() +
                           ", voce [ORVANTO] \"Chiave pubblica\" (ora " + QuoteSingle(publicKey) +
                           "), non è valida: " + error.Message() +
                           ". Correggerla; nessun aggiornamento è proposto.");
    }
    try {
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
    EnsureWorkFolder(QFileInfo(path).path(), SharedWorkFolderMode);
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
