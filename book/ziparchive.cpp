#include "book/ziparchive.h"

#include <zip.h>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace book {

namespace {

void setError(QString *error, const char *reason) {
    if (error)
        *error = u"无法生成 EPUB 文件：%1"_s.arg(QString::fromUtf8(reason));
}

// The bytes a closed archive left in its buffer source.
std::optional<QByteArray> bufferBytes(zip_source_t *buffer, QString *error) {
    if (zip_source_open(buffer) < 0) {
        setError(error, zip_error_strerror(zip_source_error(buffer)));
        return std::nullopt;
    }
    std::optional<QByteArray> bytes;
    zip_int64_t size = -1;
    if (zip_source_seek(buffer, 0, SEEK_END) == 0)
        size = zip_source_tell(buffer);
    if (size >= 0 && zip_source_seek(buffer, 0, SEEK_SET) == 0) {
        QByteArray data(qsizetype(size), Qt::Uninitialized);
        if (zip_source_read(buffer, data.data(), zip_uint64_t(size)) == size)
            bytes = std::move(data);
    }
    if (!bytes)
        setError(error, zip_error_strerror(zip_source_error(buffer)));
    zip_source_close(buffer);
    return bytes;
}

} // namespace

std::optional<QByteArray> zipArchive(const QList<ZipEntry> &entries, QString *error) {
    zip_error_t openError;
    zip_error_init(&openError);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &openError);
    zip_t *archive = buffer ? zip_open_from_source(buffer, ZIP_TRUNCATE, &openError) : nullptr;
    if (!archive) {
        setError(error, zip_error_strerror(&openError));
        zip_error_fini(&openError);
        zip_source_free(buffer);
        return std::nullopt;
    }
    zip_error_fini(&openError);
    // The archive is written into the buffer when it is closed; the buffer must outlive that.
    zip_source_keep(buffer);

    bool added = true;
    for (const ZipEntry &entry : entries) {
        // The entries' data stay alive until the archive is closed, so libzip need not copy it.
        zip_source_t *data =
            zip_source_buffer(archive, entry.data.constData(), zip_uint64_t(entry.data.size()), 0);
        const zip_int64_t index =
            data ? zip_file_add(archive, entry.name.toUtf8().constData(), data, ZIP_FL_ENC_UTF_8)
                 : -1;
        if (index < 0) {
            zip_source_free(data);
            added = false;
            break;
        }
        if (entry.stored &&
            zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0) < 0) {
            added = false;
            break;
        }
    }
    if (!added || zip_close(archive) < 0) {
        setError(error, zip_strerror(archive));
        zip_discard(archive);
        zip_source_free(buffer);
        return std::nullopt;
    }
    auto bytes = bufferBytes(buffer, error);
    zip_source_free(buffer);
    return bytes;
}

} // namespace book
