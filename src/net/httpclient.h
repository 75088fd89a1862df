#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>

class QIODevice;
class UserInterface;

// How the client checks the server's certificate: against the system's trust store by default,
// against a certificate file the settings name, or not at all when the settings turn it off.
struct TlsSettings {
    QString CaCertificateFile;
    bool VerifyCertificate = true;
};

// Bounds that end a transfer which would otherwise hold the run, and its lock, for ever: the
// whole request may last at most MaxSeconds, and it fails when fewer than MinBytesPerSecond
// arrive on average during any SlowSeconds.
struct TransferLimits {
    long MaxSeconds;
    long MinBytesPerSecond;
    long SlowSeconds;
};
// The catalogue, its signature and the size queries: a few kilobytes, which any working link
// brings in seconds; a server that trickles them fails the check within two minutes.
inline constexpr TransferLimits SmallFileLimits{120, 1, 60};
// Packages and deltas: a slow office line (a few KB/s) still finishes the largest package; a
// server that sends less than 1 KB/s for a minute, or keeps one transfer going for four hours,
// ends that attempt.
inline constexpr TransferLimits PackageLimits{4 * 3600, 1024, 60};

// One request of a batch: what to ask and, once it has ended, how it went.
struct HttpRequest {
    QString Address;
    // HEAD instead of GET.
    bool HeadOnly = false;
    // GET: where the body goes.
    QIODevice* Sink = nullptr;
    // GET: continues a body from this offset when the server still holds the same content
    // (a Range request with "If-Range: Validator"). A full answer instead calls Restart, which
    // must empty the sink; false from it fails the request.
    qint64 ResumeFrom = 0;
    QByteArray Validator;
    std::function<bool()> Restart;
    // GET: asks for the body only when it changed since the answer that carried these validators
    // (If-None-Match, If-Modified-Since); "304 Not Modified" then ends the request well, bodiless.
    QByteArray IfNoneMatch;
    QByteArray IfModifiedSince;
    TransferLimits Limits = SmallFileLimits;
    // Leaves at once on a connection of its own, rather than wait to learn whether a connection
    // still being opened to the same server could carry it too (HTTP/2): for requests made
    // together on a fresh start, which would otherwise go one after another over HTTP/1.1.
    bool AtOnce = false;

    // The outcome: empty Error for success (a final status in 200-299).
    QString Error;
    long Status = 0;
    // The announced length of the answer's body, -1 when none is announced.
    qint64 Length = -1;
    // The answer's ETag or, without one, its Last-Modified: what a resumed request sends.
    QByteArray AnswerValidator;
    // The answer's ETag and Last-Modified as the server sent them: what a conditional request
    // sends.
    QByteArray ETag;
    QByteArray LastModified;
    // Body bytes received by this request.
    qint64 Received = 0;
    // The connection broke after a successful status and some body: the rest may be asked for.
    bool Broken = false;
    // Any value the caller keeps with the request.
    int Tag = 0;

    bool Ok() const { return Error.isEmpty(); }
    // A conditional request answered that the body is the one the caller already has.
    bool NotModified() const { return Ok() && Status == 304; }
};

// The program's one HTTP(S) client. Transfers are synchronous for the caller: while they wait for
// the network, pending window events run every 250 ms and the download bar follows the body as
// it arrives. Connections to the same server are kept open between requests and shared by
// concurrent ones (HTTP/2 streams where the server offers them).
class HttpClient {
public:
    HttpClient(UserInterface& ui, const TlsSettings& tls);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    void SetTlsSettings(const TlsSettings& tls);

    // GET into the caller's device, within the small-file limits. Throws OrvantoError when the
    // address is not http or https, the connection or the TLS handshake fails, a limit is
    // exceeded, the final status is outside 200-299 or the device refuses the data.
    void Get(const QString& address, QIODevice& sink);
    // HEAD: the announced content length, -1 when the server announces none. Throws as Get.
    qint64 Head(const QString& address);

    // What a batch tells its caller while it runs; every call comes from the caller's thread.
    struct Observer {
        // A body begins: its announced length (-1 when none).
        std::function<void(HttpRequest&, qint64 length)> BodyBegins;
        std::function<void(HttpRequest&, qint64 bytes)> BodyData;
        // The request has ended; the callback may add requests to the queue.
        std::function<void(HttpRequest&)> Ended;
    };
    // Runs the queued requests, at most `parallel` at a time, in queue order, and returns when
    // the queue is empty and every request has ended. Failures are recorded in the requests,
    // not thrown; throws OrvantoError only when the transfer machinery itself fails, and RunStopped
    // when the run is asked to stop (within the 250 ms of a wait), every transfer aborted.
    void Run(std::deque<HttpRequest*>& queue, int parallel, const Observer& observer);

    // The client held by one user at a time, from construction to destruction: requests of
    // anyone else are refused meanwhile. Throws OrvantoError when the client is held already.
    class Claim {
    public:
        explicit Claim(HttpClient& client);
        ~Claim();
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;

    private:
        HttpClient& Client;
    };
    // Runs the queue as Run does, for the holder of a Claim, on any one thread and without the
    // window: no events, no stop requests; `between` runs after every wait for the network (at
    // most 250 ms, or less after Wake) and whatever it throws aborts every transfer.
    void Drive(std::deque<HttpRequest*>& queue, int parallel, const Observer& observer,
               const std::function<void()>& between);
    // Ends the current wait of Drive at once; callable from any thread.
    void Wake();

private:
    struct Transfer;
    // Runs one request; throws its error.
    void Single(HttpRequest& request, const Observer& observer);

    UserInterface& Interface;
    TlsSettings Tls;
    struct Handles;
    std::unique_ptr<Handles> Curl;
    std::atomic<bool> Busy = false;
};
