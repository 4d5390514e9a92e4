#include "fulldisk.h"

#include <QDir>
#include <QFile>

#include <csignal>

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    if (getrlimit(RLIMIT_FSIZE, &m_previous) != 0)
        return;
    rlimit limited = m_previous;
    limited.rlim_cur = static_cast<rlim_t>(bytes);
    m_active = setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (m_active)
        setrlimit(RLIMIT_FSIZE, &m_previous);
    if (m_previousHandler != SIG_ERR)
        std::signal(SIGXFSZ, m_previousHandler);
}

QMap<QString, QByteArray> folderContents(const QString &folder)
{
    QMap<QString, QByteArray> contents;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile file(dir.filePath(name));
        contents.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)"));
    }
    return contents;
}
