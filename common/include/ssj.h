#pragma once

#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class CrushedPrintJob;

// Holder of the one job that is loaded: on the printer the job being printed,
// on the desktop the job about to be sent.
class SSJ
{
public:
    // Replaces the loaded job by a new one read from the file. A failed read
    // leaves the new, partly filled job loaded; callers act on the result.
    static bool loadCPJ(const QString &path);
    // Replaces the loaded job by one the caller has read already (and checked), so
    // that a job is read once. The printer calls it only while no print reads the
    // loaded job.
    static void adopt(std::unique_ptr<CrushedPrintJob> job);
    // Total layers of the loaded job; 0 when none is loaded.
    static int getNumImages();
    // The layer as it is projected before scaling: the job's largest size,
    // ARGB32 premultiplied, black with the layer drawn in. Null when no job is
    // loaded.
    static QImage getOneImage(int layer);
    static QList<QImage> getImageList();
    // Layer thickness text and total layer count; empty when no job is loaded.
    static QStringList getCPJInfo();
    // Layer thickness of the loaded job in micrometres; 0 when none is loaded.
    static int getLayerThickness();
    static void releaseCPJ();

    static CrushedPrintJob *m_pJob;
};
