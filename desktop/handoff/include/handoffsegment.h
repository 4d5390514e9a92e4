#pragma once

#include <QByteArray>
#include <QString>

// The file hand-off between a second start of Tessora and the running instance.
//
// Terms:
//   hand-off segment  a named shared segment holding one file path as Latin-1
//                     bytes, exactly the path's length, no terminator. The second
//                     start (SharedMemoryWriter) creates and fills it; the running
//                     instance (SharedMemoryListener) polls for it.
//   read mark         the running instance overwrites every byte with '*' once it
//                     has taken the path; the writer waits for that mark.
//
// Where the system rounds a segment up to whole pages (Windows), the bytes after
// the path are zero; a path never contains a zero byte, so the text ends there.
namespace HandOffSegment {

// The name both sides use: "TessoraSharedMemory".
QString defaultKey();

constexpr char readMark = '*';

// Empty, or every byte '*'.
bool isMarkedAsRead(const QByteArray &content);

// Every byte zero: created by the writer but not yet filled.
bool isUnwritten(const QByteArray &content);

// The path held by the content: its bytes up to the first zero byte, as Latin-1.
QString pathOf(const QByteArray &content);

} // namespace HandOffSegment
