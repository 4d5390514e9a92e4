#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <sys/resource.h>

// Plays a full disk for this process and the programs it starts while alive: a write that
// would make a file larger than `bytes` fails (EFBIG, as ENOSPC on a full disk), and SIGXFSZ,
// which would end the process instead, is ignored.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();

private:
    rlimit m_previous {RLIM_INFINITY, RLIM_INFINITY};
    void (*m_previousHandler)(int) = nullptr;
};

// Every file in a folder (hidden ones too) by name, with its bytes.
QMap<QString, QByteArray> folderContents(const QString &folder);
