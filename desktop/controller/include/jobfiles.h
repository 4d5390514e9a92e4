#pragma once

#include <QString>
#include <QStringList>

class QSettings;

// Names and paths of job files as the controller handles them.
namespace JobFiles {

// A job file path as the user interface hands it over, made usable by the loader:
//   - a path naming an existing file (or resource) is kept;
//   - a "file:" URL becomes its local path ("file:///C:/jobs/a%20b.ssj" -> "C:/jobs/a b.ssj"
//     on Windows, "/jobs/a b.ssj" elsewhere), a "qrc:" URL its resource path (":/...");
//   - otherwise, for a text starting with "file:", the first existing file among the text
//     without its first 5 characters and that without 3 more ("file:" and "///").
// When nothing names an existing file, the local path of a URL, or the path unchanged, is
// returned, so that the loader's failure names what the user chose.
QString normalisedPath(const QString &path);

// The name chosen in the save dialog with the job extension: a non-empty name that ends
// neither in ".ssj" nor in ".SSJ" gets ".ssj" appended; the empty name stays empty.
QString ssjSaveName(const QString &chosenName);

// The file name the save dialog proposes for the models on the platform: their base names
// in order, each once, joined by "+" ("bunny+cube.ssj"); empty without models.
QString proposedJobFileName(const QStringList &modelPaths);
// The folder the save dialog starts in: the folder of the last job saved, kept in the
// desktop's settings under "lastJobFolder", while it exists; otherwise the user's desktop.
QString jobFolder(const QSettings &settings);
// Keeps the folder of a chosen job path for the next save; an empty path changes nothing.
void rememberJobFolder(QSettings &settings, const QString &jobPath);

// A job the window slices for a print goes into a folder of its own under the temporary
// folder, "tessora-print-" and six characters (RendererQMLItem::print), so that two prints in
// quick succession never share a file. True for a job in such a folder.
bool isInPrintFolder(const QString &jobPath);
// A path for a job of that file name in a new print folder: a job sliced for saving waits
// there for the user's answer to the island warning. Empty when no folder can be made.
QString newScratchJobPath(const QString &fileName);
// Moves a job out of its print folder to the destination, replacing a file there, and removes
// the folder; false (and a log line) when the job could not be moved.
bool moveScratchJob(const QString &jobPath, const QString &destination);
// Removes the print folder holding the job, with the job; nothing for any other path.
void removePrintFolderOf(const QString &jobPath);
// Removes the print folders not changed for olderThanSeconds (left by an earlier run).
void removePrintFolders(int olderThanSeconds);

} // namespace JobFiles
