#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class SharedMemoryListener;

// Opens the files that other starts of Tessora hand over: owns the hand-off
// listener and routes each path by its kind. Print job files (".ssj", any case)
// go to the job viewer, every other file to model import. Whoever shows the
// viewer or imports models connects to the two signals.
class FileHandOffReceiver : public QObject
{
    Q_OBJECT
public:
    explicit FileHandOffReceiver(QObject *parent = nullptr);
    explicit FileHandOffReceiver(const QString &sharedMemoryKey, QObject *parent = nullptr);

    // Starts listening for handed-over paths.
    void start();

    // Opens a file the way a handed-over one is opened (the user interface uses
    // it for the paths on the command line).
    Q_INVOKABLE void openFile(const QString &filePath);

    // The last four characters, lower-cased, are ".ssj".
    static bool isPrintJobPath(const QString &filePath);

    SharedMemoryListener *listener() const { return sharedMemoryListener; }

signals:
    void loadSSJToViewer(const QString &ssjPath);
    void addModels(const QStringList &modelFilePathsList);

public slots:
    void openFileFromSharedMemory(const QString &filePath);

private:
    SharedMemoryListener *sharedMemoryListener;
};
