#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

class QIODevice;
class QSaveFile;

// Writing a whole file so that it is either all there or left as it was: a full disk never
// leaves a cut-off file under the real name.
//
// QSaveFile alone does not promise that in Qt 5.15: commit() renames the temporary file over
// the target even when writing its last buffered bytes failed, and a write that the system
// cut short (a disk that filled up halfway) returns fewer bytes without setting any error.
// The operations here check both before the rename, and discard the temporary file otherwise.
namespace AtomicFile {

enum class InPlace {
    Never, // no temporary file can be made beside the target: fail
    IfFolderLocked, // then write the target itself; a failure may leave it half written
};

// Flushes an open `file`, checks that every byte it accepted reached the disk, and renames
// it over its target. Otherwise the temporary file is discarded, `error` (when given) says
// why, and the result is false.
bool commit(QSaveFile *file, QString *error = nullptr);

// Writes `path` through a temporary file beside it: `fill` writes the content and answers
// false when some of it could not be written. A target that exists but is no regular file
// (a device, a pipe) is written in place, as replacing it would destroy it.
bool write(const QString &path, const std::function<bool(QIODevice *)> &fill, QString *error = nullptr,
    InPlace inPlace = InPlace::Never);
bool write(const QString &path, const QByteArray &bytes, QString *error = nullptr, InPlace inPlace = InPlace::Never);

} // namespace AtomicFile
