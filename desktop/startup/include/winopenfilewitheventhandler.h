#pragma once

#include <QObject>
#include <QString>

// Carries a file path given on Tessora's command line to the user interface,
// which opens the file whenever filepathChanged is emitted.
class WinOpenFileWithEventHandler : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString filepath READ filepath WRITE setFilepath NOTIFY filepathChanged)
public:
    explicit WinOpenFileWithEventHandler(QObject *parent = nullptr);

    QString filepath() const { return path; }
    // Emits filepathChanged every time, also for the same path again: each
    // emission asks the user interface to open the file.
    void setFilepath(const QString &filePath);

signals:
    void filepathChanged();

private:
    QString path;
};
