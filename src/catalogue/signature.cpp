#include "catalogue/signature.h"

#include "core/error.h"

#include <QList>
#include <algorithm>
#include <memory>
#include <openssl/evp.h>
#include <optional>

namespace {

constexpr qsizetype AlgorithmBytes = 2;
constexpr qsizetype KeyIdBytes = 8;
constexpr qsizetype KeyBytes = 32;
constexpr qsizetype SignatureBytes = 64;
const QByteArray LegacyAlgorithm = "Ed";
const QByteArray PrehashedAlgorithm = "ED";
const QByteArray UntrustedPrefix = "untrusted comment: ";
const QByteArray TrustedPrefix = "trusted comment: ";
const QByteArray TimestampPrefix = "timestamp:";

const QString MalformedKey = QStringLiteral("la chiave pubblica non è nel formato di minisign");
const QString MalformedSignature =
    QStringLiteral("il file della firma non è nel formato di minisign");

// Strict base64 of exactly the expected length.
std::optional<QByteArray> DecodeBase64(const QByteArray& text, qsizetype expected) {
    const auto result =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != expected)
        return std::nullopt;
    return result.decoded;
}

using KeyHandle = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

bool Ed25519Verify(const QByteArray& key, const QByteArray& signature, const QByteArray& message) {
    const KeyHandle handle(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char*>(key.constData()),
                                    static_cast<size_t>(key.size())),
        &EVP_PKEY_free);
    const DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!handle || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, handle.get()) != 1)
        throw OrvantoError(QStringLiteral("Verifica Ed25519 non disponibile"));
    return EVP_DigestVerify(context.get(),
                            reinterpret_cast<const unsigned char*>(signature.constData()),
                            static_cast<size_t>(signature.size()),
                            reinterpret_cast<const unsigned char*>(message.constData()),
                            static_cast<size_t>(message.size())) == 1;
}

QByteArray Blake2b512(const QByteArray& message) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(message.constData(), static_cast<size_t>(message.size()), digest, &length,
                   EVP_blake2b512(), nullptr) != 1)
        throw OrvantoError(QStringLiteral("Calcolo BLAKE2b-512 non riuscito"));
    return QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length));
}

} // namespace

PublicKey ParsePublicKey(const QString& base64Line) {
    const auto decoded =
        DecodeBase64(base64Line.trimmed().toLatin1(), AlgorithmBytes + KeyIdBytes + KeyBytes);
    if (!decoded || !decoded->startsWith(LegacyAlgorithm))
        throw OrvantoError(MalformedKey);
    return {decoded->mid(AlgorithmBytes, KeyIdBytes), decoded->mid(AlgorithmBytes + KeyIdBytes)};
}

Signature ParseSignatureFile(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (lines.size() != 4 || !lines[0].startsWith(UntrustedPrefix) ||
        !lines[2].startsWith(TrustedPrefix))
        throw OrvantoError(MalformedSignature);
    const auto signature = DecodeBase64(lines[1], AlgorithmBytes + KeyIdBytes + SignatureBytes);
    const auto global = DecodeBase64(lines[3], SignatureBytes);
    if (!signature || !global)
        throw OrvantoError(MalformedSignature);
    const QByteArray algorithm = signature->left(AlgorithmBytes);
    if (algorithm != LegacyAlgorithm && algorithm != PrehashedAlgorithm)
        throw OrvantoError(MalformedSignature);
    return {algorithm == PrehashedAlgorithm, signature->mid(AlgorithmBytes, KeyIdBytes),
            signature->mid(AlgorithmBytes + KeyIdBytes), lines[2].mid(TrustedPrefix.size()),
            *global};
}

void VerifySignature(const PublicKey& key, const Signature& signature, const QByteArray& message) {
    if (signature.KeyId != key.KeyId)
        throw OrvantoError(QStringLiteral("firmato con la chiave %1 invece della chiave %2")
                               .arg(KeyIdText(signature.KeyId), KeyIdText(key.KeyId)));
    if (!Ed25519Verify(key.Key, signature.Value,
                       signature.Prehashed ? Blake2b512(message) : message))
        throw OrvantoError(QStringLiteral("il contenuto non corrisponde alla firma"));
    if (!Ed25519Verify(key.Key, signature.GlobalSignature,
                       signature.Value + signature.TrustedComment))
        throw OrvantoError(QStringLiteral("il commento firmato non corrisponde alla firma"));
}

qint64 SigningTime(const QByteArray& trustedComment) {
    for (const QByteArray& field : trustedComment.split('\t')) {
        if (!field.startsWith(TimestampPrefix))
            continue;
        const QByteArray digits = field.mid(TimestampPrefix.size());
        bool ok = false;
        const qint64 time = digits.toLongLong(&ok);
        const bool plainDigits =
            !digits.isEmpty() &&
            std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        return ok && plainDigits ? time : -1;
    }
    return -1;
}

QString KeyIdText(const QByteArray& keyId) {
    QByteArray reversed = keyId;
    std::reverse(reversed.begin(), reversed.end());
    return QString::fromLatin1(reversed.toHex().toUpper());
}
