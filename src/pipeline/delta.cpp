#include "pipeline/delta.h"

#include "catalogue/deltaoffer.h"
#include "core/error.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <memory>
#include <zstd.h>

namespace {

const QString RebuildOperation = QStringLiteral("Ricostruzione del file");

// A file mapped into memory for reading or writing, unmapped on every path.
class MappedFile {
public:
    MappedFile(const QString& path, QIODevice::OpenMode mode, qint64 size = -1) : File(path) {
        if (!File.open(mode))
            throw OrvantoError::Failure(RebuildOperation, path, File.errorString());
        if (size >= 0 && !File.resize(size))
            throw OrvantoError::Failure(RebuildOperation, path, File.errorString());
        Size = File.size();
        // An empty file has nothing to map.
        if (Size > 0) {
            Data = File.map(0, Size);
            if (Data == nullptr)
                throw OrvantoError::Failure(RebuildOperation, path, File.errorString());
        }
    }
    ~MappedFile() {
        if (Data != nullptr)
            File.unmap(Data);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    uchar* Data = nullptr;
    qint64 Size = 0;

private:
    QFile File;
};

} // namespace

void RebuildFromDelta(const QString& reference, const QString& delta, const QString& output,
                      qint64 maxSize) {
    const MappedFile patch(delta, QIODevice::ReadOnly);
    const unsigned long long size =
        ZSTD_getFrameContentSize(patch.Data, static_cast<size_t>(patch.Size));
    if (size == ZSTD_CONTENTSIZE_ERROR || size == ZSTD_CONTENTSIZE_UNKNOWN)
        throw OrvantoError::Failure(RebuildOperation, output,
                                    "il delta " + delta + " non è un frame zstd con la dimensione");
    if (size > static_cast<unsigned long long>(maxSize))
        throw OrvantoError::Failure(
            RebuildOperation, output,
            QStringLiteral("il delta %1 ricostruirebbe %2 byte, oltre i %3 annunciati dal catalogo")
                .arg(delta)
                .arg(size)
                .arg(maxSize));
    if (size >=
        static_cast<unsigned long long>(QStorageInfo(QFileInfo(output).path()).bytesAvailable()))
        throw OrvantoError::Failure(RebuildOperation, output,
                                    QStringLiteral("spazio su disco insufficiente"));
    const MappedFile base(reference, QIODevice::ReadOnly);
    QFile::remove(output);
    MappedFile rebuilt(output, QIODevice::ReadWrite, static_cast<qint64>(size));
    const std::unique_ptr<ZSTD_DCtx, decltype(&ZSTD_freeDCtx)> context(ZSTD_createDCtx(),
                                                                       &ZSTD_freeDCtx);
    // The window of a patch spans the whole reference; the output is the decoder's buffer.
    if (!context ||
        ZSTD_isError(
            ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax,
                                   ZSTD_dParam_getBounds(ZSTD_d_windowLogMax).upperBound)) ||
        ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), base.Data, static_cast<size_t>(base.Size))))
        throw OrvantoError::Failure(RebuildOperation, output,
                                    QStringLiteral("zstd non disponibile"));
    const size_t written =
        ZSTD_decompressDCtx(context.get(), rebuilt.Data, static_cast<size_t>(size), patch.Data,
                            static_cast<size_t>(patch.Size));
    if (ZSTD_isError(written) || written != size)
        throw OrvantoError::Failure(
            RebuildOperation, output,
            ZSTD_isError(written) ? QString::fromUtf8(ZSTD_getErrorName(written))
                                  : QStringLiteral("dimensione diversa da quella annunciata"));
}
