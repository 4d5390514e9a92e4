#include "tessoraapp.h"

#include "basiclogging.h"
#include "myglwidget.h"
#include "rendererqmlitem.h"
#include "runguard.h"
#include "sharedmemorywriter.h"
#include "sliceimageprovider.h"

#include <QApplication>
#include <QDebug>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQmlError>

namespace {

constexpr int anotherInstanceExitCode = 1;
const QSize minimumWindowSize(787, 590);

// The second start: hand every path to the running instance, one after the other.
int handOffToRunningInstance(int argc, char **argv, SharedMemoryWriter &writer)
{
    qDebug("Main.cpp: Another instance of Tessora is already running");
    // The application object only turns the command line into text (on Windows
    // from the wide-character command line); no window is opened.
    QCoreApplication app(argc, argv);
    const QStringList filePaths = QCoreApplication::arguments().mid(1);
    for (const QString &filePath : filePaths) {
        writer.writeFilePathToSharedMemory(filePath);
        writer.isMemoryMarkedAsRead();
    }
    return anotherInstanceExitCode;
}

int runApplication(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tessora"));
    QCoreApplication::setOrganizationName(QStringLiteral("Corvantis"));

    TessoraWindow window;
    window.show();
    qDebug("INFO. Main.cpp: Tessora is running. Listening for files from other starts");
    window.openFiles(QCoreApplication::arguments().mid(1));
    return app.exec();
}

} // namespace

int runTessora(int argc, char **argv)
{
    BasicLogging logging(QStringLiteral("LogFile_Tessora"));
    logging.setupBasicLogging();

    SharedMemoryWriter writer;
    RunGuard guard(QStringLiteral("Tessora"));
    if (!guard.tryToRun())
        return handOffToRunningInstance(argc, argv, writer);
    return runApplication(argc, argv);
}

TessoraWindow::TessoraWindow()
{
    // The page lives in a static library: its resources are registered by hand.
    Q_INIT_RESOURCE(tessora_qml);

    // The engine owns the provider.
    quickView.engine()->addImageProvider(QStringLiteral("colors"), new SliceImageProvider);

    qmlRegisterType<MyGLWidget>("OpenGLUnderQML", 1, 0, "MyGLWidget");
    RendererQMLItem::registerQmlType();

    // Published before the page loads, so that its connections find them from the start.
    quickView.rootContext()->setContextProperty(QStringLiteral("fileEvent"), &fileEventHandler);
    quickView.rootContext()->setContextProperty(QStringLiteral("fileHandOff"), &fileHandOffReceiver);
    quickView.setResizeMode(QQuickView::SizeRootObjectToView);
}

bool TessoraWindow::show()
{
    quickView.setSource(QUrl(QStringLiteral("qrc:/qml/main_mac.qml")));
    const bool loaded = quickView.status() == QQuickView::Ready;
    if (!loaded) {
        const QList<QQmlError> errors = quickView.errors();
        for (const QQmlError &error : errors)
            qDebug().noquote() << "ERROR. TessoraWindow::show. The main page did not load: " + error.toString();
    }

    quickView.setMinimumSize(minimumWindowSize);
    quickView.show();
    quickView.setTitle(QStringLiteral("Tessora"));

    fileHandOffReceiver.start();
    return loaded;
}

void TessoraWindow::openFiles(const QStringList &filePaths)
{
    for (const QString &filePath : filePaths)
        fileEventHandler.setFilepath(filePath);
}
