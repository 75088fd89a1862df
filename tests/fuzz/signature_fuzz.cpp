// The minisign signature parser and verifier on any signature file, against a fixed key and
// catalogue: whatever the file holds, only the maker's own signatures (the seeds) verify, and a
// file either parses into fields of the format's sizes or is refused with an error.

#include "catalogue/signature.h"
#include "core/error.h"
#include "fuzzinput.h"

namespace {

// A key made with `minisign -G -W`, and the catalogue it signed in the seeds (pre-hashed and
// legacy).
const QString MakerKey = QStringLiteral("RWRpgrRt2KCkJMADXKS0HHAlsdyfqkLLEMxD7uWxLleqas61fGflAPQC");
const QByteArray Catalogue = "[VERSIONI]\r\nVelmora=3.12.0\r\nSchema database=206\r\n[SHA256]\r\n"
                             "Velmora.exe.7z=00\r\n";
const QByteArray Genuine[] = {
    QByteArray::fromBase64("+LQBAWxy4mOT8gfKuMnwD9R8MH8h5stMGtjvVJCoDNI95SsDai3iLUXTc05cqZ00"
                           "2OpnaYxtinobDBwul8wYDQ==") +
        "timestamp:1796920551\tfile:update.ini\thashed",
    QByteArray::fromBase64("N+qKxJXAs6czwAb3NnFWSNDRx4JKTids372NDion5gJ6KmoXZFl5ups83Ng/Jur4"
                           "hj6tSJ+I9Zdw5davrv2tDg==") +
        "timestamp:1796920551\tfile:update.ini",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const PublicKey key = ParsePublicKey(MakerKey);
    Signature signature;
    try {
        signature = ParseSignatureFile(InputBytes(data, size));
    } catch (const OrvantoError&) {
        return 0;
    }
    Require(signature.KeyId.size() == 8 && signature.Value.size() == 64 &&
                signature.GlobalSignature.size() == 64,
            "the fields have the format's sizes");
    Require(SigningTime(signature.TrustedComment) >= -1, "a signing time is -1 or a time");
    try {
        VerifySignature(key, signature, Catalogue);
    } catch (const OrvantoError&) {
        return 0;
    }
    const QByteArray signedPart = signature.Value + signature.TrustedComment;
    Require(signedPart == Genuine[0] || signedPart == Genuine[1],
            "only the maker's signatures verify", QString::fromLatin1(signedPart.toBase64()));
    return 0;
}
