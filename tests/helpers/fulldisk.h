#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <sys/resource.h>

// Plays a full disk for this process and the programs it starts while alive: no file may
// grow beyond `bytes`, and a write past that fails with EFBIG, as one fails with ENOSPC on a
// full disk (SIGXFSZ, which would end the process instead, is ignored meanwhile).
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isActive() const { return m_active; }

private:
    rlimit m_previous {};
    void (*m_previousHandler)(int) = nullptr;
    bool m_active = false;
};

// Every file in a folder (hidden ones too) by name, with its bytes.
QMap<QString, QByteArray> folderContents(const QString &folder);
