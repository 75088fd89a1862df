// The catalogue on any bytes: it is read once into values of one line and at most 2047
// characters, reading a value twice gives the same, no version is newer than itself and of two
// versions at most one is newer, and a catalogue other than the signed one never verifies.

#include "catalogue/catalogue.h"
#include "catalogue/requiredfiles.h"
#include "catalogue/signature.h"
#include "catalogue/versionnumber.h"
#include "core/error.h"
#include "environment/inifile.h"
#include "fuzzinput.h"

namespace {

const QString MakerKey = QStringLiteral("RWRpgrRt2KCkJMADXKS0HHAlsdyfqkLLEMxD7uWxLleqas61fGflAPQC");
const QByteArray SignedCatalogue = "[VERSIONI]\r\nVelmora=3.12.0\r\nSchema database=206\r\n"
                                   "[SHA256]\r\nVelmora.exe.7z=00\r\n";
const QByteArray SignatureFile =
    "untrusted comment: signature from minisign secret key\n"
    "RURpgrRt2KCkJPi0AQFscuJjk/IHyrjJ8A/UfDB/IebLTBrY71SQqAzSPeUrA2ot4i1F03NOXKmdNNjqZ2mMbYp6GwwcLp"
    "fMGA0=\n"
    "trusted comment: timestamp:1796920551\tfile:update.ini\thashed\n"
    "kbRgTFS26ixBoGqZVn3VDwu+R7rO2/MhOjvrLb/daQqvB0aGA+KbwaLcFTRXF2Rh+a9RyCrLGqAYV6Mdt3hJDQ==\n";
const QString Installed[] = {QStringLiteral("3.11.0"), QStringLiteral("1.7.1"),
                             QStringLiteral("205"), QString()};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes = InputBytes(data, size);
    const IniText catalogue(bytes);
    for (const QString& component :
         {Component::Orvanto, Component::Velmora, Component::Archiver, Component::Dbexpress,
          Component::Mappe, Component::Schema, Component::Firebird}) {
        const QString available = catalogue.ReadString(CatalogueSection, component, QString());
        Require(available.size() <= 2047 && !available.contains('\n') && !available.contains('\r'),
                "a value is one line of at most 2047 characters", available);
        Require(catalogue.ReadString(CatalogueSection, component, "-") ==
                    (available.isEmpty() &&
                             catalogue.ReadString(CatalogueSection, component, "+") == "+"
                         ? QStringLiteral("-")
                         : available),
                "a value reads the same every time", component);
        Require(!IsNewerVersion(available, available), "no version is newer than itself",
                available);
        for (const QString& installed : Installed)
            Require(!(IsNewerVersion(installed, available) && IsNewerVersion(available, installed)),
                    "of two versions at most one is newer", installed + " / " + available);
    }
    static const PublicKey key = ParsePublicKey(MakerKey);
    static const Signature signature = ParseSignatureFile(SignatureFile);
    try {
        VerifySignature(key, signature, bytes);
    } catch (const OrvantoError&) {
        return 0;
    }
    Require(bytes == SignedCatalogue, "only the signed catalogue verifies");
    return 0;
}
