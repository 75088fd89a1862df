#include "catalogue/cataloguefetch.h"

#include "catalogue/catalogue.h"
#include "catalogue/runstate.h"
#include "catalogue/services.h"
#include "catalogue/signedcatalogue.h"
#include "core/error.h"
#include "core/userinterface.h"
#include "environment/lowlevel.h"

namespace {

// What in velmora.ini may be why the catalogue cannot be fetched: an address that is empty, not
// http(s) or without its closing "/" (the catalogue's name is appended to it). Empty when the
// address looks right.
QString RemoteUrlHint(const QString& remoteUrl) {
    QString problem;
    if (remoteUrl.trimmed().isEmpty())
        problem = QStringLiteral("è vuota");
    else if (!remoteUrl.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
             !remoteUrl.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        problem = QStringLiteral("non inizia con http:// o https://");
    else if (!remoteUrl.endsWith('/'))
        problem = QStringLiteral("non termina con \"/\"");
    if (problem.isEmpty())
        return {};
    return "Controllare in " + FindSettingsFile() + " la voce [ORVANTO] \"Remote url\" (ora " +
           QuoteSingle(remoteUrl) + "): " + problem + ".";
}

} // namespace

BoundedBuffer::BoundedBuffer(qint64 limit) : Limit(limit) {
    open(QIODevice::WriteOnly);
}

qint64 BoundedBuffer::writeData(const char* data, qint64 size) {
    if (buffer().size() + size > Limit) {
        setErrorString(QStringLiteral("il file supera il limite di %1 byte").arg(Limit));
        return -1;
    }
    return QBuffer::writeData(data, size);
}

CatalogueFetch::CatalogueFetch(const Services& services, Ask ask)
    : S(services), CatalogueBody(MaxCatalogueBytes), SignatureBody(MaxSignatureBytes),
      Transfers(services.Http, services.Ui, Prepare(ask)) {}

std::vector<HttpRequest*> CatalogueFetch::Prepare(Ask ask) {
    const RunState& run = S.Run;
    CatalogueRequest.Address = run.RemoteUrl + CatalogueFileName;
    CatalogueRequest.Sink = &CatalogueBody;
    CatalogueRequest.AtOnce = true;
    if (ask == Ask::IfChanged && run.LastCatalogue.Address == CatalogueRequest.Address) {
        CatalogueRequest.IfNoneMatch = run.LastCatalogue.ETag;
        CatalogueRequest.IfModifiedSince = run.LastCatalogue.LastModified;
    }
    if (!run.CatalogueSigned())
        return {&CatalogueRequest};
    SignatureRequest.Address = run.RemoteUrl + SignatureFileName;
    SignatureRequest.Sink = &SignatureBody;
    SignatureRequest.AtOnce = true;
    return {&CatalogueRequest, &SignatureRequest};
}

void CatalogueFetch::Received(const HttpRequest& request) {
    // The download bar ends full, as after any transfer with a body.
    const int length = static_cast<int>(request.Length < 0 ? 0 : request.Length);
    S.Ui.SetDownloadProgress(length, length);
}

QByteArray CatalogueFetch::Catalogue() {
    try {
        Transfers.Wait(CatalogueRequest);
        if (!CatalogueRequest.Ok())
            throw OrvantoError(CatalogueRequest.Error);
    } catch (const OrvantoError& error) {
        const QString hint = RemoteUrlHint(S.Run.RemoteUrl);
        if (hint.isEmpty())
            throw;
        throw OrvantoError(error.Message() + "\n" + hint);
    }
    if (CatalogueRequest.NotModified())
        return S.Run.LastCatalogue.Bytes;
    Received(CatalogueRequest);
    return CatalogueBody.data();
}

QByteArray CatalogueFetch::Signature() {
    try {
        Transfers.Wait(SignatureRequest);
        if (!SignatureRequest.Ok())
            throw OrvantoError(SignatureRequest.Error);
    } catch (const OrvantoError& error) {
        throw OrvantoError(CatalogueRefusedMessage("firma non disponibile: " + error.Message()));
    }
    Received(SignatureRequest);
    return SignatureBody.data();
}

void CatalogueFetch::Accept() {
    if (!CatalogueRequest.NotModified())
        S.Run.LastCatalogue = {CatalogueRequest.Address, CatalogueBody.data(),
                               CatalogueRequest.ETag, CatalogueRequest.LastModified};
}
