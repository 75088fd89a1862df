#include "net/httpclient.h"

#include "core/error.h"
#include "core/stoprequest.h"
#include "core/userinterface.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <curl/curl.h>
#include <list>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace {

const char* const UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
const char* const AcceptHeader = "Accept: text/html, */*";
// OpenSSL 3 offers TLS 1.0 and 1.1 only with the lowest security level.
const char* const CipherList = "DEFAULT@SECLEVEL=0";
// The level the certificate chain is checked at: OpenSSL's usual one, which refuses keys shorter
// than 2048 bits and SHA-1 signatures whatever level the handshake runs at.
constexpr int CertificateSecurityLevel = 2;
constexpr long MaxRedirects = 15;
constexpr long ConnectTimeoutSeconds = 30;
// Whatever the address or a redirect says, only these are spoken.
const char* const AllowedProtocols = "http,https";
constexpr int EventIntervalMs = 250;
// Large receive buffers: fewer write calls for big packages, as the curl tool does.
constexpr long ReceiveBufferBytes = 512 * 1024;

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
};

// Called for every new TLS connection: the lowest security level of the cipher list would also
// let weak certificates through, so the chain check gets its own level back.
CURLcode KeepCertificateSecurityLevel(CURL*, void* sslContext, void*) {
    X509_VERIFY_PARAM_set_auth_level(SSL_CTX_get0_param(static_cast<SSL_CTX*>(sslContext)),
                                     CertificateSecurityLevel);
    return CURLE_OK;
}

QString RequestFailure(const QString& address, const QString& reason) {
    return OrvantoError::Failure(QStringLiteral("Richiesta HTTP"), address, reason).Message();
}

} // namespace

// The multi handle that owns the shared connections, and the transfers running on it.
struct HttpClient::Handles {
    CURLM* Multi = nullptr;
    std::list<std::unique_ptr<Transfer>> Running;

    Handles() {
        static const CurlGlobal global;
        Multi = curl_multi_init();
        if (Multi == nullptr)
            throw OrvantoError(QStringLiteral("Impossibile inizializzare il client HTTP"));
    }
    ~Handles();
};

// One request on the wire: its easy handle, its headers and what has arrived so far.
struct HttpClient::Transfer {
    HttpRequest& Request;
    const Observer& Watcher;
    CURLM* Multi;
    CURL* Easy = nullptr;
    curl_slist* Headers = nullptr;
    QByteArray Url, CaFile, Range;
    char ErrorText[CURL_ERROR_SIZE] = {};
    bool Begun = false;
    bool SinkFailed = false;
    bool RestartFailed = false;
    QByteArray ETag, LastModified;

    Transfer(HttpRequest& request, const Observer& observer, CURLM* multi, const TlsSettings& tls)
        : Request(request), Watcher(observer), Multi(multi), Easy(curl_easy_init()),
          Url(request.Address.toUtf8()), CaFile(tls.CaCertificateFile.toLocal8Bit()) {
        Headers = curl_slist_append(nullptr, AcceptHeader);
        if (request.ResumeFrom > 0 && !request.Validator.isEmpty()) {
            Range = QByteArray::number(request.ResumeFrom) + '-';
            Headers = curl_slist_append(Headers, "If-Range: " + request.Validator);
        }
        if (!request.IfNoneMatch.isEmpty())
            Headers = curl_slist_append(Headers, "If-None-Match: " + request.IfNoneMatch);
        if (!request.IfModifiedSince.isEmpty())
            Headers = curl_slist_append(Headers, "If-Modified-Since: " + request.IfModifiedSince);
        if (Easy == nullptr || Headers == nullptr)
            throw OrvantoError(QStringLiteral("Impossibile inizializzare il client HTTP"));
        curl_easy_setopt(Easy, CURLOPT_PRIVATE, this);
        curl_easy_setopt(Easy, CURLOPT_URL, Url.constData());
        curl_easy_setopt(Easy, CURLOPT_ERRORBUFFER, ErrorText);
        curl_easy_setopt(Easy, CURLOPT_HTTPHEADER, Headers);
        curl_easy_setopt(Easy, CURLOPT_USERAGENT, UserAgent);
        curl_easy_setopt(Easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(Easy, CURLOPT_MAXREDIRS, MaxRedirects);
        // Redirects keep the protection of the first address: from https only to https.
        curl_easy_setopt(Easy, CURLOPT_PROTOCOLS_STR, AllowedProtocols);
        curl_easy_setopt(Easy, CURLOPT_REDIR_PROTOCOLS_STR, Secure() ? "https" : AllowedProtocols);
        curl_easy_setopt(Easy, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(Easy, CURLOPT_BUFFERSIZE, ReceiveBufferBytes);
        curl_easy_setopt(Easy, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
        curl_easy_setopt(Easy, CURLOPT_TIMEOUT, request.Limits.MaxSeconds);
        curl_easy_setopt(Easy, CURLOPT_LOW_SPEED_LIMIT, request.Limits.MinBytesPerSecond);
        curl_easy_setopt(Easy, CURLOPT_LOW_SPEED_TIME, request.Limits.SlowSeconds);
        curl_easy_setopt(Easy, CURLOPT_SSLVERSION,
                         static_cast<long>(CURL_SSLVERSION_TLSv1_0) |
                             static_cast<long>(CURL_SSLVERSION_MAX_DEFAULT));
        curl_easy_setopt(Easy, CURLOPT_SSL_CIPHER_LIST, CipherList);
        curl_easy_setopt(Easy, CURLOPT_SSL_CTX_FUNCTION, &KeepCertificateSecurityLevel);
        curl_easy_setopt(Easy, CURLOPT_SSL_VERIFYPEER, tls.VerifyCertificate ? 1L : 0L);
        curl_easy_setopt(Easy, CURLOPT_SSL_VERIFYHOST, tls.VerifyCertificate ? 2L : 0L);
        curl_easy_setopt(Easy, CURLOPT_CAINFO, CaFile.isEmpty() ? nullptr : CaFile.constData());
        // Concurrent requests to one server wait for a connection of the pool, or share one.
        curl_easy_setopt(Easy, CURLOPT_PIPEWAIT, request.AtOnce ? 0L : 1L);
        curl_easy_setopt(Easy, CURLOPT_HEADERFUNCTION, &Transfer::Header);
        curl_easy_setopt(Easy, CURLOPT_HEADERDATA, this);
        if (request.HeadOnly) {
            curl_easy_setopt(Easy, CURLOPT_NOBODY, 1L);
        } else {
            curl_easy_setopt(Easy, CURLOPT_WRITEFUNCTION, &Transfer::Write);
            curl_easy_setopt(Easy, CURLOPT_WRITEDATA, this);
            if (!Range.isEmpty())
                curl_easy_setopt(Easy, CURLOPT_RANGE, Range.constData());
        }
        if (curl_multi_add_handle(Multi, Easy) != CURLM_OK) {
            Release();
            throw OrvantoError(QStringLiteral("Impossibile avviare la richiesta HTTP"));
        }
    }

    ~Transfer() {
        curl_multi_remove_handle(Multi, Easy);
        Release();
    }

    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    bool Conditional() const {
        return !Request.IfNoneMatch.isEmpty() || !Request.IfModifiedSince.isEmpty();
    }

    bool Secure() const {
        return Request.Address.startsWith(QStringLiteral("https:"), Qt::CaseInsensitive);
    }

    void Release() {
        curl_slist_free_all(Headers);
        Headers = nullptr;
        if (Easy != nullptr)
            curl_easy_cleanup(Easy);
        Easy = nullptr;
    }

    // Keeps the validators of the final answer; a redirect's headers are replaced by the next.
    static size_t Header(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Transfer*>(user);
        const QByteArray line = QByteArray(data, static_cast<qsizetype>(size * count)).trimmed();
        if (line.startsWith("HTTP/")) {
            self->ETag.clear();
            self->LastModified.clear();
        } else if (line.toLower().startsWith("etag:")) {
            self->ETag = line.mid(5).trimmed();
        } else if (line.toLower().startsWith("last-modified:")) {
            self->LastModified = line.mid(14).trimmed();
        }
        return size * count;
    }

    bool Begin() {
        Begun = true;
        long status = 0;
        curl_easy_getinfo(Easy, CURLINFO_RESPONSE_CODE, &status);
        // A full answer to a request for the rest: the content changed or ranges are not served.
        if (!Range.isEmpty() && status != 206 && Request.Restart && !Request.Restart()) {
            RestartFailed = true;
            return false;
        }
        curl_off_t length = -1;
        curl_easy_getinfo(Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (Watcher.BodyBegins)
            Watcher.BodyBegins(Request, length);
        return true;
    }

    static size_t Write(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Transfer*>(user);
        const size_t bytes = size * count;
        if (!self->Begun && !self->Begin())
            return 0;
        if (self->Request.Sink->write(data, static_cast<qint64>(bytes)) !=
            static_cast<qint64>(bytes)) {
            self->SinkFailed = true;
            return 0;
        }
        self->Request.Received += static_cast<qint64>(bytes);
        if (self->Watcher.BodyData)
            self->Watcher.BodyData(self->Request, static_cast<qint64>(bytes));
        return bytes;
    }

    // Records how the request went.
    void Finish(CURLcode result) {
        HttpRequest& request = Request;
        curl_easy_getinfo(Easy, CURLINFO_RESPONSE_CODE, &request.Status);
        curl_off_t length = -1;
        curl_easy_getinfo(Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        request.Length = length;
        request.AnswerValidator = !ETag.isEmpty() && !ETag.startsWith("W/") ? ETag : LastModified;
        request.ETag = ETag;
        request.LastModified = LastModified;
        if (result == CURLE_OK && !Begun && !request.HeadOnly && !Begin())
            result = CURLE_WRITE_ERROR;
        request.Error = ErrorOf(result);
        request.Broken = !request.Ok() && !SinkFailed && !RestartFailed && request.Received > 0 &&
                         request.Status >= 200 && request.Status <= 299;
    }

    QString ErrorOf(CURLcode result) const {
        const QString& address = Request.Address;
        if (SinkFailed)
            return RequestFailure(address,
                                  QStringLiteral("impossibile scrivere i dati ricevuti: ") +
                                      Request.Sink->errorString());
        if (RestartFailed)
            return RequestFailure(address, QStringLiteral("impossibile ricominciare il file "
                                                          "parziale: ") +
                                               Request.Sink->errorString());
        long redirects = 0;
        curl_easy_getinfo(Easy, CURLINFO_REDIRECT_COUNT, &redirects);
        if (result == CURLE_UNSUPPORTED_PROTOCOL && redirects > 0) {
            const char* target = nullptr;
            curl_easy_getinfo(Easy, CURLINFO_EFFECTIVE_URL, &target);
            return RequestFailure(
                address,
                QStringLiteral("reindirizzamento verso %1 rifiutato: %2")
                    .arg(QString::fromUtf8(target),
                         Secure() ? QStringLiteral("da un indirizzo https si segue solo https")
                                  : QStringLiteral("si seguono solo indirizzi http e https")));
        }
        if (result == CURLE_UNSUPPORTED_PROTOCOL)
            return RequestFailure(address, QStringLiteral("si usano solo indirizzi http e https"));
        if (result == CURLE_OPERATION_TIMEDOUT) {
            const TransferLimits& limits = Request.Limits;
            return RequestFailure(
                address, QStringLiteral("trasferimento interrotto: oltre %1 s in tutto o meno di "
                                        "%2 byte/s per %3 s (%4)")
                             .arg(limits.MaxSeconds)
                             .arg(limits.MinBytesPerSecond)
                             .arg(limits.SlowSeconds)
                             .arg(QString::fromUtf8(ErrorText)));
        }
        // An error status is named as such rather than in libcurl's English text.
        const bool answered = result == CURLE_OK || result == CURLE_HTTP_RETURNED_ERROR;
        const bool unchanged = result == CURLE_OK && Request.Status == 304 && Conditional();
        if (answered && !unchanged && (Request.Status < 200 || Request.Status > 299))
            return RequestFailure(address, QStringLiteral("risposta HTTP %1").arg(Request.Status));
        if (result != CURLE_OK) {
            const QString text =
                QString::fromUtf8(ErrorText[0] != '\0' ? ErrorText : curl_easy_strerror(result));
            return RequestFailure(address,
                                  result == CURLE_PARTIAL_FILE
                                      ? "connessione chiusa prima della fine (" + text + ")"
                                      : text);
        }
        return {};
    }
};

HttpClient::Handles::~Handles() {
    Running.clear();
    curl_multi_cleanup(Multi);
}

HttpClient::HttpClient(UserInterface& ui, const TlsSettings& tls)
    : Interface(ui), Tls(tls), Curl(std::make_unique<Handles>()) {}

HttpClient::~HttpClient() = default;

void HttpClient::SetTlsSettings(const TlsSettings& tls) {
    Tls = tls;
}

HttpClient::Claim::Claim(HttpClient& client) : Client(client) {
    if (Client.Busy.exchange(true))
        throw OrvantoError(QStringLiteral("Richiesta HTTP: un altro trasferimento è in corso"));
}

HttpClient::Claim::~Claim() {
    Client.Busy = false;
}

void HttpClient::Run(std::deque<HttpRequest*>& queue, int parallel, const Observer& observer) {
    const Claim claim(*this);
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    Drive(queue, parallel, observer, [this, &sinceEvents] {
        if (sinceEvents.elapsed() >= EventIntervalMs) {
            Interface.ProcessEvents();
            sinceEvents.restart();
        }
        // A request to stop aborts every transfer: their sinks are the callers' to remove.
        ThrowIfStopped();
    });
}

void HttpClient::Drive(std::deque<HttpRequest*>& queue, int parallel, const Observer& observer,
                       const std::function<void()>& between) {
    auto& running = Curl->Running;
    // Whatever way this ends, no transfer stays on the multi handle.
    struct Release {
        std::list<std::unique_ptr<Transfer>>& Running;
        ~Release() { Running.clear(); }
    } release{running};

    while (!queue.empty() || !running.empty()) {
        while (!queue.empty() && static_cast<int>(running.size()) < parallel) {
            HttpRequest* request = queue.front();
            queue.pop_front();
            running.push_back(std::make_unique<Transfer>(*request, observer, Curl->Multi, Tls));
        }
        int active = 0;
        const CURLMcode performed = curl_multi_perform(Curl->Multi, &active);
        if (performed != CURLM_OK)
            throw OrvantoError(QStringLiteral("Richiesta HTTP: ") +
                               QString::fromUtf8(curl_multi_strerror(performed)));
        int pending = 0;
        bool ended = false;
        while (CURLMsg* message = curl_multi_info_read(Curl->Multi, &pending)) {
            if (message->msg != CURLMSG_DONE)
                continue;
            Transfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            const CURLcode result = message->data.result;
            for (auto it = running.begin(); it != running.end(); ++it) {
                if (it->get() != transfer)
                    continue;
                std::unique_ptr<Transfer> done = std::move(*it);
                running.erase(it);
                done->Finish(result);
                HttpRequest& request = done->Request;
                done.reset();
                if (observer.Ended)
                    observer.Ended(request);
                ended = true;
                break;
            }
        }
        if (!ended && active > 0)
            curl_multi_poll(Curl->Multi, nullptr, 0, EventIntervalMs, nullptr);
        between();
    }
}

void HttpClient::Wake() {
    curl_multi_wakeup(Curl->Multi);
}

void HttpClient::Single(HttpRequest& request, const Observer& observer) {
    std::deque<HttpRequest*> queue{&request};
    Run(queue, 1, observer);
    if (!request.Ok())
        throw OrvantoError(request.Error);
}

void HttpClient::Get(const QString& address, QIODevice& sink) {
    HttpRequest request;
    request.Address = address;
    request.Sink = &sink;
    // The bar follows this one transfer: its length, then the bytes as they arrive.
    int maximum = 0;
    Observer bar;
    bar.BodyBegins = [this, &maximum](HttpRequest&, qint64 length) {
        maximum = static_cast<int>(length < 0 ? 0 : length);
        Interface.SetDownloadProgress(maximum, 0);
    };
    bar.BodyData = [this, &maximum](HttpRequest& current, qint64) {
        Interface.SetDownloadProgress(maximum, static_cast<int>(current.Received));
    };
    Single(request, bar);
    Interface.SetDownloadProgress(maximum, maximum);
}

qint64 HttpClient::Head(const QString& address) {
    HttpRequest request;
    request.Address = address;
    request.HeadOnly = true;
    Single(request, Observer());
    return request.Length;
}
