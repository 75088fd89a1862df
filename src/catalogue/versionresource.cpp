#include "catalogue/versionresource.h"

#include <QFile>
#include <QtEndian>
#include <optional>
#include <utility>
#include <vector>

// Reads the version resource straight from the PE file (PE32 and PE32+), looking blocks up the way
// VerQueryValueW does. Every offset and length comes from the file and is checked before use; any
// inconsistency ends the lookup with empty text.

namespace {

// No single read is larger: a version resource is at most 64 KiB, a resource section is far
// smaller than this in any real file.
constexpr quint64 MaxReadSize = 64 * 1024 * 1024;

constexpr quint16 DosSignature = 0x5A4D;    // "MZ"
constexpr quint32 PeSignature = 0x00004550; // "PE\0\0"
constexpr quint16 Pe32Magic = 0x10B;
constexpr quint16 Pe32PlusMagic = 0x20B;
constexpr quint64 DosHeaderSize = 64;
constexpr quint64 NewHeaderOffsetField = 0x3C;
constexpr quint64 FileHeaderEnd = 24; // signature and COFF file header
constexpr quint64 SectionHeaderSize = 40;
constexpr quint32 ResourceDirectoryIndex = 2;
constexpr quint32 VersionResourceType = 16;
constexpr quint32 SubdirectoryFlag = 0x80000000;
constexpr quint64 ResourceDirectorySize = 16;
constexpr quint64 ResourceEntrySize = 8;
constexpr quint64 ResourceDataEntrySize = 16;
constexpr quint64 BlockHeaderSize = 6; // wLength, wValueLength, wType

// Little-endian bytes whose reads never leave them: a read past the end gives 0, which no field
// takes as valid.
class Bytes {
public:
    explicit Bytes(QByteArray data) : Data(std::move(data)) {}

    quint64 Size() const { return quint64(Data.size()); }
    bool Has(quint64 offset, quint64 length) const {
        return offset <= Size() && length <= Size() - offset;
    }
    quint16 U16(quint64 offset) const {
        return Has(offset, 2) ? qFromLittleEndian<quint16>(Data.constData() + offset) : 0;
    }
    quint32 U32(quint64 offset) const {
        return Has(offset, 4) ? qFromLittleEndian<quint32>(Data.constData() + offset) : 0;
    }

private:
    QByteArray Data;
};

quint64 Align4(quint64 offset) {
    return (offset + 3) & ~quint64(3);
}

// `length` bytes at `offset`, or nothing when the range is not wholly inside the file.
std::optional<Bytes> ReadRange(QFile& file, quint64 offset, quint64 length) {
    const quint64 fileSize = quint64(file.size());
    if (length > MaxReadSize || offset > fileSize || length > fileSize - offset ||
        !file.seek(qint64(offset)))
        return std::nullopt;
    QByteArray data = file.read(qint64(length));
    if (quint64(data.size()) != length)
        return std::nullopt;
    return Bytes(std::move(data));
}

struct Section {
    quint64 VirtualAddress = 0;
    quint64 RawOffset = 0;
    quint64 RawSize = 0;
};

struct PeLayout {
    std::vector<Section> Sections;
    quint32 ResourceRva = 0;
};

// The section table and the address of the resource directory, when the file is a PE image that
// has one.
std::optional<PeLayout> ReadLayout(QFile& file) {
    const auto dosHeader = ReadRange(file, 0, DosHeaderSize);
    if (!dosHeader || dosHeader->U16(0) != DosSignature)
        return std::nullopt;
    const quint64 newHeader = dosHeader->U32(NewHeaderOffsetField);
    const auto fileHeader = ReadRange(file, newHeader, FileHeaderEnd);
    if (!fileHeader || fileHeader->U32(0) != PeSignature)
        return std::nullopt;
    const quint64 sectionCount = fileHeader->U16(6);
    const quint64 optionalHeaderSize = fileHeader->U16(20);
    const auto optionalHeader = ReadRange(file, newHeader + FileHeaderEnd, optionalHeaderSize);
    if (!optionalHeader)
        return std::nullopt;

    quint64 directories = 0;
    switch (optionalHeader->U16(0)) {
    case Pe32Magic:
        directories = 96;
        break;
    case Pe32PlusMagic:
        directories = 112;
        break;
    default:
        return std::nullopt;
    }
    const quint64 resourceEntry = directories + ResourceDirectoryIndex * 8;
    if (optionalHeader->U32(directories - 4) <= ResourceDirectoryIndex ||
        !optionalHeader->Has(resourceEntry, 8))
        return std::nullopt;

    PeLayout layout;
    layout.ResourceRva = optionalHeader->U32(resourceEntry);
    if (layout.ResourceRva == 0)
        return std::nullopt;
    const auto table = ReadRange(file, newHeader + FileHeaderEnd + optionalHeaderSize,
                                 sectionCount * SectionHeaderSize);
    if (!table)
        return std::nullopt;
    for (quint64 header = 0; header < table->Size(); header += SectionHeaderSize)
        layout.Sections.push_back(
            {table->U32(header + 12), table->U32(header + 20), table->U32(header + 16)});
    return layout;
}

// Reads `length` bytes at the relative virtual address `rva` from the file part of the section
// that holds it; with no length, reads from `rva` to the end of that section's file part.
std::optional<Bytes> ReadVirtual(QFile& file, const PeLayout& layout, quint64 rva,
                                 std::optional<quint64> length) {
    for (const Section& section : layout.Sections) {
        if (rva < section.VirtualAddress || rva - section.VirtualAddress >= section.RawSize)
            continue;
        const quint64 inSection = rva - section.VirtualAddress;
        const quint64 available = section.RawSize - inSection;
        if (length && *length > available)
            return std::nullopt;
        return ReadRange(file, section.RawOffset + inSection, length.value_or(available));
    }
    return std::nullopt;
}

// The OffsetToData of the entry of the resource directory at `directory` whose id is `id`, or of
// its first entry when no id is given.
std::optional<quint32> FindResourceEntry(const Bytes& resources, quint64 directory,
                                         std::optional<quint32> id) {
    if (!resources.Has(directory, ResourceDirectorySize))
        return std::nullopt;
    const quint64 count =
        quint64(resources.U16(directory + 12)) + quint64(resources.U16(directory + 14));
    const quint64 entries = directory + ResourceDirectorySize;
    if (!resources.Has(entries, count * ResourceEntrySize))
        return std::nullopt;
    for (quint64 entry = entries; entry < entries + count * ResourceEntrySize;
         entry += ResourceEntrySize) {
        if (!id || resources.U32(entry) == *id)
            return resources.U32(entry + 4);
    }
    return std::nullopt;
}

// The entry's subdirectory when it leads to one.
std::optional<quint64> Subdirectory(std::optional<quint32> entry) {
    if (!entry || (*entry & SubdirectoryFlag) == 0)
        return std::nullopt;
    return *entry & ~SubdirectoryFlag;
}

// The bytes of the version resource: type 16, its first name or id, its first language. The tree
// is walked exactly three levels deep, so a directory that points back at itself ends the walk.
std::optional<Bytes> ReadVersionResource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const auto layout = ReadLayout(file);
    if (!layout)
        return std::nullopt;
    const auto resources = ReadVirtual(file, *layout, layout->ResourceRva, std::nullopt);
    if (!resources)
        return std::nullopt;
    const auto names = Subdirectory(FindResourceEntry(*resources, 0, VersionResourceType));
    if (!names)
        return std::nullopt;
    const auto languages = Subdirectory(FindResourceEntry(*resources, *names, std::nullopt));
    if (!languages)
        return std::nullopt;
    // An entry that leads to yet another directory has its top bit set, an offset far beyond the
    // resources read, so it fails the bounds check like any other stray offset.
    const auto dataEntry = FindResourceEntry(*resources, *languages, std::nullopt);
    if (!dataEntry || !resources->Has(*dataEntry, ResourceDataEntrySize))
        return std::nullopt;
    return ReadVirtual(file, *layout, resources->U32(*dataEntry), resources->U32(*dataEntry + 4));
}

// One block of the version resource: header, NUL-terminated UTF-16 key, value, children.
struct Block {
    quint64 End = 0;
    QString Key;
    quint64 Value = 0;
    quint16 ValueLength = 0; // as stored: characters for text, bytes otherwise
    quint64 ValueSize = 0;   // in bytes
    quint64 Children = 0;
};

// UTF-16 text from `begin` up to its NUL, or up to `end` when no NUL comes first.
QString ReadText(const Bytes& resource, quint64 begin, quint64 end, quint64* terminator = nullptr) {
    QString text;
    quint64 at = begin;
    for (; at + 2 <= end && resource.U16(at) != 0; at += 2)
        text.append(QChar(resource.U16(at)));
    if (terminator)
        *terminator = at;
    return text;
}

// The block at `begin`, which must lie wholly before `limit`.
std::optional<Block> ReadBlock(const Bytes& resource, quint64 begin, quint64 limit) {
    const quint64 length = resource.U16(begin);
    if (length < BlockHeaderSize || begin > limit || length > limit - begin)
        return std::nullopt;
    Block block;
    block.End = begin + length;
    quint64 keyEnd = 0;
    block.Key = ReadText(resource, begin + BlockHeaderSize, block.End, &keyEnd);
    if (keyEnd + 2 > block.End)
        return std::nullopt;
    block.Value = Align4(keyEnd + 2);
    block.ValueLength = resource.U16(begin + 2);
    const bool isText = resource.U16(begin + 4) != 0;
    block.ValueSize = quint64(block.ValueLength) * (isText ? 2 : 1);
    block.Children = Align4(block.Value + block.ValueSize);
    return block;
}

// The block reached from `root` through the backslash-separated `path`, each part matched
// without regard to case.
std::optional<Block> FindBlock(const Bytes& resource, const Block& root, const QString& path) {
    Block block = root;
    for (const QString& part : path.split(u'\\', Qt::SkipEmptyParts)) {
        std::optional<Block> match;
        for (quint64 child = block.Children; !match && child < block.End;) {
            const auto candidate = ReadBlock(resource, child, block.End);
            if (!candidate)
                return std::nullopt;
            if (candidate->Key.compare(part, Qt::CaseInsensitive) == 0)
                match = candidate;
            child = Align4(candidate->End);
        }
        if (!match)
            return std::nullopt;
        block = *match;
    }
    return block;
}

// The string `query` under the first translation pair, before any comma is replaced.
QString LookUpString(const Bytes& resource, const QString& query) {
    const auto root = ReadBlock(resource, 0, resource.Size());
    if (!root)
        return {};
    const auto translation =
        FindBlock(resource, *root, QStringLiteral("\\VarFileInfo\\Translation"));
    if (!translation || translation->ValueSize < 4 || translation->Value + 4 > translation->End)
        return {};
    const quint16 language = resource.U16(translation->Value);
    const quint16 codePage = resource.U16(translation->Value + 2);
    const QString pair = QStringLiteral("%1%2")
                             .arg(language, 4, 16, QLatin1Char('0'))
                             .arg(codePage, 4, 16, QLatin1Char('0'))
                             .toUpper();
    const auto value =
        FindBlock(resource, *root, QStringLiteral("\\StringFileInfo\\") + pair + u'\\' + query);
    if (!value || value->ValueLength == 0)
        return {};
    // Like the platform, read on to the NUL even when the value length says less; the end of the
    // resource is the limit.
    return ReadText(resource, value->Value, resource.Size());
}

} // namespace

QString ReadVersionString(const QString& path, const QString& query) {
    const bool accepted = query == u"Comments" || query == u"FileVersion" ||
                          query == u"LegalCopyright" || query == u"ProductName";
    Q_ASSERT_X(accepted, "lowlevel",
               "query == \"Comments\" || query == \"FileVersion\" || "
               "query == \"LegalCopyright\" || query == \"ProductName\"");
    if (!accepted)
        return {};
    const auto resource = ReadVersionResource(path);
    if (!resource)
        return {};
    return LookUpString(*resource, query).replace(u',', u'.');
}
