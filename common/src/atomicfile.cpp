#include "atomicfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// Why writing stopped: the system's words when it gave any.
QString failureText(const QFileDevice &file)
{
    return file.error() != QFileDevice::NoError ? file.errorString()
                                                : QStringLiteral("not every byte could be written");
}

// The temporary file goes at once, not when the QSaveFile is destroyed.
void discard(QSaveFile *file)
{
    file->cancelWriting();
    file->commit();
}

bool writeInPlace(const QString &path, const std::function<bool(QIODevice *)> &fill, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, file.errorString());
        return false;
    }
    const bool written = fill(&file) && file.flush();
    file.close();
    if (written && file.error() == QFileDevice::NoError)
        return true;
    setError(error, failureText(file));
    return false;
}

} // namespace

bool AtomicFile::commit(QSaveFile *file, QString *error)
{
    // A write cut short gives no reason; a second attempt meets the system's (a full disk).
    if (!file->flush())
        file->flush();
    // pos() counts every byte the file accepted, size() what the disk holds (in a text file
    // on Windows, line ends make the two differ).
    const bool cutShort = !(file->openMode() & QIODevice::Text) && file->size() != file->pos();
    if (file->error() != QFileDevice::NoError || cutShort) {
        setError(error,
            file->error() != QFileDevice::NoError
                ? file->errorString()
                : QStringLiteral("only %1 of %2 bytes were written").arg(file->size()).arg(file->pos()));
        discard(file);
        return false;
    }
    if (!file->commit()) {
        setError(error, file->errorString());
        return false;
    }
    return true;
}

bool AtomicFile::write(
    const QString &path, const std::function<bool(QIODevice *)> &fill, QString *error, InPlace inPlace)
{
    const QFileInfo target(path);
    if (target.exists() && !target.isFile())
        return writeInPlace(path, fill, error);

    QSaveFile file(path);
    file.setDirectWriteFallback(inPlace == InPlace::IfFolderLocked);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, file.errorString());
        return false;
    }
    if (!fill(&file)) {
        setError(error, failureText(file));
        discard(&file);
        return false;
    }
    return commit(&file, error);
}

bool AtomicFile::write(const QString &path, const QByteArray &bytes, QString *error, InPlace inPlace)
{
    return write(
        path, [&bytes](QIODevice *device) { return device->write(bytes) == bytes.size(); }, error, inPlace);
}
