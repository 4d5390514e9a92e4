#pragma once

#include <QImage>
#include <QObject>
#include <QString>

#include <memory>

class CrushedPrintJob;

// The job viewer behind the user interface's viewer page: one job file loaded, one layer of
// it shown at a time. Layers are counted from 0 here and from 1 in what the page is told;
// every query answers "n/a" while no file is open.
//
// The viewer keeps a job of its own, so that a print sent meanwhile changes nothing here.
// What it shows leaves it as layerShown(); the controller puts it into the "colors" image
// provider.
class JobFileViewer : public QObject
{
    Q_OBJECT
public:
    explicit JobFileViewer(QObject *parent = nullptr);
    ~JobFileViewer() override;

    bool isOpen() const { return m_job != nullptr; }
    int index() const { return m_index; }

    // Loads the file and shows layer 0: "1". A file that cannot be shown closes the viewer,
    // tells the user (problem) and answers "n/a".
    QString open(const QString &normalisedPath);
    // Shows an all-black projected image, when a file was open.
    void close();
    QString showNext();
    QString showPrevious();
    // The layer at that fraction (0 to 1) of the job.
    QString showAt(double fraction);
    QString layerCountText() const;

signals:
    void layerShown(const QImage &image);
    void problem(const QString &messageText);

private:
    QString show(int index);

    std::unique_ptr<CrushedPrintJob> m_job;
    int m_index = 0;
};
