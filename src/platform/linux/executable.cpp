#include "platform/executable.h"

#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <elf.h>
#include <optional>

const QString UpdaterExecutableName = QStringLiteral("Orvanto");

namespace {

// The ELF identification and machine of a program; e_type and e_machine sit at the same offsets
// in 32- and 64-bit headers, in the file's byte order.
struct ElfHeader {
    unsigned char Class = 0, Data = 0;
    Elf32_Half Type = 0, Machine = 0;
};

std::optional<ElfHeader> ReadElfHeader(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(sizeof(Elf32_Ehdr));
    if (bytes.size() < static_cast<qsizetype>(sizeof(Elf32_Ehdr)) ||
        !bytes.startsWith(QByteArray(ELFMAG, SELFMAG)))
        return std::nullopt;
    Elf32_Ehdr header;
    std::memcpy(&header, bytes.constData(), sizeof header);
    return ElfHeader{header.e_ident[EI_CLASS], header.e_ident[EI_DATA], header.e_type,
                     header.e_machine};
}

} // namespace

QString RunningExecutablePath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
}

bool IsRunnableProgram(const QString& path) {
    static const std::optional<ElfHeader> self = ReadElfHeader(QStringLiteral("/proc/self/exe"));
    const std::optional<ElfHeader> candidate = ReadElfHeader(path);
    // Same class and byte order as the running program, so the fields read alike for both.
    return self && candidate && QFileInfo(path).isFile() && candidate->Class == self->Class &&
           candidate->Data == self->Data && candidate->Machine == self->Machine &&
           (candidate->Type == ET_EXEC || candidate->Type == ET_DYN);
}
