#pragma once

#include "net/backgroundfetch.h"
#include "net/httpclient.h"

#include <QBuffer>
#include <QByteArray>

struct Services;

// A memory buffer that refuses to grow past its bound, so that a server cannot make the check
// read a file of any size.
class BoundedBuffer : public QBuffer {
public:
    explicit BoundedBuffer(qint64 limit);

protected:
    qint64 writeData(const char* data, qint64 size) override;

private:
    qint64 Limit;
};

// The catalogue and, when the installation trusts a maker's key, its signature: both asked for at
// once, on a thread of their own, from the moment the fetch is made, and waited for only where the
// check reads them. Dropping the fetch aborts what still runs.
class CatalogueFetch {
public:
    // The whole catalogue, or, for the check right after an update, the one the run accepted last
    // only if it changed since (If-None-Match, If-Modified-Since): "not modified" gives the
    // accepted bytes again, which the signature then has to cover as any catalogue does.
    enum class Ask { Whole, IfChanged };

    explicit CatalogueFetch(const Services& services, Ask ask = Ask::Whole);
    CatalogueFetch(const CatalogueFetch&) = delete;
    CatalogueFetch& operator=(const CatalogueFetch&) = delete;

    // The catalogue's bytes. Throws the transfer's error, with a pointer to velmora.ini when its
    // address is the likely cause.
    QByteArray Catalogue();
    // The signature file's bytes; throws the refusal of the catalogue when it cannot be had.
    QByteArray Signature();
    // The check accepted the catalogue: a later fetch of the run asks whether it changed.
    void Accept();

private:
    // The requests, made ready before the transfers start.
    std::vector<HttpRequest*> Prepare(Ask ask);
    void Received(const HttpRequest& request);

    const Services& S;
    BoundedBuffer CatalogueBody;
    BoundedBuffer SignatureBody;
    HttpRequest CatalogueRequest;
    HttpRequest SignatureRequest;
    BackgroundFetch Transfers;
};
