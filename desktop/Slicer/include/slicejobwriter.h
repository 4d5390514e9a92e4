#pragma once

#include "crushedantibitmap.h"
#include "crushedbitmap.h"
#include "crushedprintjob.h"

#include <QImage>
#include <QString>
#include <QStringList>

// Builds the job file of a slicing run: plain runs store bit maps (format version 1),
// anti-aliased runs PNG layers (version 3), in slicing order from the bottom.
//
// Header: name "jobname", the description given (or "jobdesc"), reserved number 0, the
// layer thickness in millimetres, no leading blank or base layers, reserved texts
// "Reserved3", "Reserved2", "Reserved1", no supports, no texts.
class SliceJobWriter
{
public:
    SliceJobWriter(bool antiAliased, double layerThicknessMm, const QString &description);

    // Packing, callable from any thread: a plain image keeps a pixel white when its red,
    // green or blue reaches 32; an anti-aliased one is stored as PNG. False when the
    // image is missing or cannot be packed (the layer is then left out).
    static bool packPlain(QImage *image, CrushedBitMap *map);
    static bool packAntiAliased(QImage *image, CrushedAntiBitMap *map);

    // Appends the next layer (packed here, or packed already).
    bool appendLayer(int layer, QImage *image);
    void appendPacked(int layer, CrushedBitMap &&map);
    void appendPacked(int layer, CrushedAntiBitMap &&map);

    // A layer already appended, as an image (ARGB for bit maps, grey for anti-aliased
    // layers), and the same layer packed again from an image changed.
    QImage layerImage(int layer);
    bool replaceLayer(int layer, QImage *image);

    // Writes the job; false (with errorString()) when the file cannot be written.
    bool save(const QString &path);
    QString errorString() const { return m_error; }

    const CrushedPrintJob &job() const { return m_job; }
    bool isAntiAliased() const { return m_antiAliased; }

    // Where a job to be printed goes: the temporary folder, "/" + the model file names
    // without their last four characters joined by "_" and cut to 50 characters, ".ssj".
    static QString printFilePath(const QStringList &modelFileNames);

private:
    bool m_antiAliased = false;
    CrushedPrintJob m_job;
    QString m_error;
};
