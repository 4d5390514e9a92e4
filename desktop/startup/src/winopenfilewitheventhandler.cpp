#include "winopenfilewitheventhandler.h"

WinOpenFileWithEventHandler::WinOpenFileWithEventHandler(QObject *parent)
    : QObject(parent)
{
}

void WinOpenFileWithEventHandler::setFilepath(const QString &filePath)
{
    path = filePath;
    emit filepathChanged();
}
