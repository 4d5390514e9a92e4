// The main window in this process: what the page does with the files it is
// asked to open, from the command line or handed over by another start.
#include "logcapture.h"
#include "sliceimageprovider.h"
#include "tessoraapp.h"
#include "testjobs.h"

#include <QApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString viewerLine = QStringLiteral("INFO. main_mac.qml::openJobInViewer. Opening print job in the viewer: ");
const QString importLine = QStringLiteral("INFO. main_mac.qml::importModels. Importing: ");

int whitePixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qGray(image.pixel(x, y)) > 200)
                ++count;
        }
    }
    return count;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The controller announces the desktop: loopback only, ports of this run.
        auto *random = QRandomGenerator::global();
        qputenv("TESSORA_DISCOVERY_TARGET", "127.0.0.1");
        qputenv("TESSORA_DISCOVERY_PORT", QByteArray::number(random->bounded(20000, 30000)));
        qputenv("TESSORA_BASE_PORT", QByteArray::number(random->bounded(30000, 40000)));

        // A job whose first layer is black with a white block.
        QVERIFY(dir.isValid());
        jobPath = dir.filePath(QStringLiteral("viewer.ssj"));
        QVERIFY(squareJob(2, QSize(1280, 800), QRect(200, 100, 800, 500)).saveCPJ(jobPath));

        window = new TessoraWindow;
        QVERIFY(window->show());
        QVERIFY(QTest::qWaitForWindowExposed(&window->view()));
    }

    void cleanupTestCase() { delete window; }

    void window_hasTitleMinimumSizeAndFileEvents()
    {
        QCOMPARE(window->view().title(), QStringLiteral("Tessora"));
        QCOMPARE(window->view().minimumSize(), QSize(787, 590));
        // The hand-off's object is checked by its paths opening below; the page loading and
        // following the window's size by the page tests.
        QCOMPARE(window->view().rootContext()->contextProperty(QStringLiteral("fileEvent")).value<QObject *>(),
            &window->fileEvent());
    }

    void commandLineJob_isShownInTheViewer()
    {
        auto *layerImage = window->view().rootObject()->findChild<QQuickItem *>(QStringLiteral("layerImage"));
        QVERIFY(layerImage);
        auto *provider
            = dynamic_cast<SliceImageProvider *>(window->view().engine()->imageProvider(QStringLiteral("colors")));
        QVERIFY(provider);

        LogCapture log;
        window->openFiles({jobPath});
        QVERIFY(log.lines().contains(viewerLine + jobPath));

        // The viewer's image (the provider's second) holds the first layer, white block
        // and all, and the page shows that image.
        QCOMPARE(whitePixels(provider->image(1)), 800 * 500);
        QVERIFY(layerImage->property("source").toUrl().toString().startsWith(QStringLiteral("image://colors/1")));
        QTRY_COMPARE(layerImage->property("status").toInt(), 1); // Image.Ready
        QCOMPARE(layerImage->property("sourceSize").toSize(), QSize(1280, 800));

        // Another layer is fetched anew.
        const QString firstSource = layerImage->property("source").toString();
        QTest::keyClick(&window->view(), Qt::Key_Right);
        QTRY_VERIFY(layerImage->property("source").toString() != firstSource);
    }

    void meshesAndHandedOverPaths_openLikeCommandLinePaths()
    {
        LogCapture log;
        window->openFiles({QStringLiteral("/models/bracket.stl"), QStringLiteral("/models/b.OBJ")});
        window->fileHandOff().openFileFromSharedMemory(QStringLiteral("/models/part.obj"));
        window->fileHandOff().openFileFromSharedMemory(jobPath.toUpper());
        QCOMPARE(log.lines().filter(importLine),
            (QStringList {
                importLine + "/models/bracket.stl", importLine + "/models/b.OBJ", importLine + "/models/part.obj"}));
        QCOMPARE(log.lines().filter(viewerLine), QStringList {viewerLine + jobPath.toUpper()});
    }

private:
    QTemporaryDir dir;
    QString jobPath;
    TessoraWindow *window = nullptr;
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
