#include "pipeline/httpclient.h"

#include "core/error.h"
#include "core/userinterface.h"

#include <QElapsedTimer>
#include <QIODevice>
#include <curl/curl.h>
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
constexpr long StallSeconds = 60;
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

} // namespace

struct HttpClient::Handles {
    CURLM* Multi = nullptr;
    CURL* Easy = nullptr;
    curl_slist* Headers = nullptr;

    Handles() {
        static const CurlGlobal global;
        Multi = curl_multi_init();
        Easy = curl_easy_init();
        Headers = curl_slist_append(nullptr, AcceptHeader);
        if (Multi == nullptr || Easy == nullptr || Headers == nullptr)
            throw OrvantoError(QStringLiteral("Impossibile inizializzare il client HTTP"));
    }

    ~Handles() {
        curl_slist_free_all(Headers);
        if (Easy != nullptr)
            curl_easy_cleanup(Easy);
        if (Multi != nullptr)
            curl_multi_cleanup(Multi);
    }
};

// One request in progress: where the body goes and how far the bar is.
struct HttpClient::Transfer {
    UserInterface& Interface;
    CURL* Easy;
    QIODevice* Sink = nullptr;
    bool Begun = false;
    qint64 Received = 0;
    int BarMaximum = 0;
    bool SinkFailed = false;

    void Begin() {
        curl_off_t length = -1;
        curl_easy_getinfo(Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        BarMaximum = static_cast<int>(length < 0 ? 0 : length);
        Begun = true;
        Interface.SetDownloadProgress(BarMaximum, 0);
    }

    static size_t Write(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Transfer*>(user);
        const size_t bytes = size * count;
        if (!self->Begun)
            self->Begin();
        if (self->Sink->write(data, static_cast<qint64>(bytes)) != static_cast<qint64>(bytes)) {
            self->SinkFailed = true;
            return 0;
        }
        self->Received += static_cast<qint64>(bytes);
        self->Interface.SetDownloadProgress(self->BarMaximum, static_cast<int>(self->Received));
        return bytes;
    }
};

HttpClient::HttpClient(UserInterface& ui, const TlsSettings& tls)
    : Interface(ui), Tls(tls), Curl(std::make_unique<Handles>()) {}

HttpClient::~HttpClient() = default;

void HttpClient::SetTlsSettings(const TlsSettings& tls) {
    Tls = tls;
}

void HttpClient::Get(const QString& address, QIODevice& sink) {
    Transfer transfer{Interface, Curl->Easy};
    transfer.Sink = &sink;
    curl_easy_setopt(Curl->Easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(Curl->Easy, CURLOPT_WRITEFUNCTION, &Transfer::Write);
    curl_easy_setopt(Curl->Easy, CURLOPT_WRITEDATA, &transfer);
    Perform(address, transfer);
    if (!transfer.Begun)
        transfer.Begin();
    Interface.SetDownloadProgress(transfer.BarMaximum, transfer.BarMaximum);
}

qint64 HttpClient::Head(const QString& address) {
    Transfer transfer{Interface, Curl->Easy};
    curl_easy_setopt(Curl->Easy, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(Curl->Easy, CURLOPT_WRITEFUNCTION, nullptr);
    curl_easy_setopt(Curl->Easy, CURLOPT_WRITEDATA, nullptr);
    Perform(address, transfer);
    curl_off_t length = -1;
    curl_easy_getinfo(Curl->Easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return length;
}

void HttpClient::Perform(const QString& address, Transfer& transfer) {
    const auto fail = [&address](const QString& reason) {
        return OrvantoError::Failure(QStringLiteral("Richiesta HTTP"), address, reason);
    };
    if (Busy)
        throw fail(QStringLiteral("un altro trasferimento è in corso"));
    Busy = true;
    struct Release {
        bool& Flag;
        ~Release() { Flag = false; }
    } release{Busy};

    CURL* easy = Curl->Easy;
    char errorText[CURL_ERROR_SIZE] = {};
    const QByteArray url = address.toUtf8();
    const QByteArray caFile = Tls.CaCertificateFile.toLocal8Bit();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, Curl->Headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, UserAgent);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, MaxRedirects);
    // Redirects keep the protection of the first address: from https only to https.
    const bool secure = address.startsWith(QStringLiteral("https:"), Qt::CaseInsensitive);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, ReceiveBufferBytes);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, ConnectTimeoutSeconds);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, StallSeconds);
    curl_easy_setopt(easy, CURLOPT_SSLVERSION,
                     static_cast<long>(CURL_SSLVERSION_TLSv1_0) |
                         static_cast<long>(CURL_SSLVERSION_MAX_DEFAULT));
    curl_easy_setopt(easy, CURLOPT_SSL_CIPHER_LIST, CipherList);
    curl_easy_setopt(easy, CURLOPT_SSL_CTX_FUNCTION, &KeepCertificateSecurityLevel);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, Tls.VerifyCertificate ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, Tls.VerifyCertificate ? 2L : 0L);
    curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.isEmpty() ? nullptr : caFile.constData());

    curl_multi_add_handle(Curl->Multi, easy);
    struct Detach {
        CURLM* Multi;
        CURL* Easy;
        ~Detach() {
            curl_multi_remove_handle(Multi, Easy);
            curl_easy_setopt(Easy, CURLOPT_NOBODY, 0L);
            curl_easy_setopt(Easy, CURLOPT_ERRORBUFFER, nullptr);
        }
    } detach{Curl->Multi, easy};

    CURLcode result = CURLE_OK;
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    for (int running = 1; running > 0;) {
        const CURLMcode multiResult = curl_multi_perform(Curl->Multi, &running);
        if (multiResult != CURLM_OK)
            throw fail(QString::fromUtf8(curl_multi_strerror(multiResult)));
        if (running > 0)
            curl_multi_poll(Curl->Multi, nullptr, 0, EventIntervalMs, nullptr);
        if (sinceEvents.elapsed() >= EventIntervalMs) {
            Interface.ProcessEvents();
            sinceEvents.restart();
        }
    }
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(Curl->Multi, &pending)) {
        if (message->msg == CURLMSG_DONE)
            result = message->data.result;
    }
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (transfer.SinkFailed)
        throw fail(QStringLiteral("impossibile scrivere i dati ricevuti: ") +
                   transfer.Sink->errorString());
    long redirects = 0;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_COUNT, &redirects);
    if (result == CURLE_UNSUPPORTED_PROTOCOL && redirects > 0) {
        const char* target = nullptr;
        curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &target);
        throw fail(QStringLiteral("reindirizzamento verso %1 rifiutato: %2")
                       .arg(QString::fromUtf8(target),
                            secure ? QStringLiteral("da un indirizzo https si segue solo https")
                                   : QStringLiteral("si seguono solo indirizzi http e https")));
    }
    if (result != CURLE_OK) {
        const QString detail = errorText[0] != '\0' ? QString::fromUtf8(errorText)
                                                    : QString::fromUtf8(curl_easy_strerror(result));
        throw fail(detail);
    }
    if (status < 200 || status > 299)
        throw fail(QStringLiteral("risposta HTTP %1").arg(status));
}
