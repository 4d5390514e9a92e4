// The pages in a real window (Xvfb, Mesa's software OpenGL, the real editor item): they
// load without warnings, actions are disabled where they cannot work, the import prompts
// ask the import's questions, the printer pages show and send what the controller
// reports and expects, and at the smallest window size no text is cut off. Every state
// looked at is saved as a PNG (TESSORA_SCREENSHOT_DIR, else a folder in the temp dir).
#include "controllertesting.h"
#include "crushedprintjob.h"
#include "meshtesting.h"
#include "myglwidget.h"
#include "printerlistmodel.h"
#include "rendererqmlitem.h"
#include "tessoraapp.h"
#include "uitesting.h"
#include "waiting.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QVector4D>
#include <QtTest>

#include <functional>
#include <memory>

using namespace UiTesting;

namespace {

const QSize minimumSize(787, 590);

// Warnings of the pages (QML errors, binding and type errors), with the file they come from.
QStringList pageWarnings;
QtMessageHandler previousHandler = nullptr;

void recordPageWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool fromPage = (context.file && QByteArray(context.file).startsWith("qrc:"))
        || message.contains(QLatin1String("qrc:/qml")) || message.contains(QLatin1String("QML "))
        || message.contains(QLatin1String("Qt Quick Layouts"));
    if (type != QtDebugMsg && type != QtInfoMsg && fromPage)
        pageWarnings << message;
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

class TestUiPages : public QObject
{
    Q_OBJECT

private:
    QQuickWindow *window() { return &app->view(); }
    QObject *root() { return app->view().rootObject(); }
    MyGLWidget *controller() { return root()->findChild<MyGLWidget *>(QStringLiteral("controller")); }
    QObject *editor() { return root()->property("editor").value<QObject *>(); }
    QString textOf(const QString &name) { return find(window(), name)->property("text").toString(); }
    // Whether the tallest model becomes `mm` high within the usual patience.
    bool heightBecomes(double mm)
    {
        return QTest::qWaitFor(
            [&] { return qAbs(root()->property("maxModelHeight").toDouble() - mm) < 1e-3; }, TestPatience::kWaitMs);
    }

    std::unique_ptr<TessoraWindow> app;
    QTemporaryDir files;
    QString shotDir;
    QStringList shots;

    QQuickItem *item(const QString &name)
    {
        QQuickItem *found = findItem(window(), name);
        if (!found)
            qWarning().noquote() << "No item named" << name;
        return found;
    }

    bool open(const QString &popup)
    {
        QObject *object = find(window(), popup);
        return object && QMetaObject::invokeMethod(object, "open") && opens(popup);
    }

    bool close(const QString &popup)
    {
        QObject *object = find(window(), popup);
        if (!object || !QMetaObject::invokeMethod(object, "close"))
            return false;
        return QTest::qWaitFor([&] { return !object->property("visible").toBool(); }, TestPatience::kWaitMs);
    }

    // Whether the popup opens (by itself or through the page) within the usual patience.
    bool opens(const QString &popup)
    {
        QObject *object = find(window(), popup);
        return object && QTest::qWaitFor([&] { return object->property("opened").toBool(); }, TestPatience::kWaitMs);
    }

    bool importBox(const QString &name, double x, double y, double z)
    {
        const QString path = MeshTesting::writeStlBox(files, name, float(x), float(y), float(z));
        return !path.isEmpty()
            && QMetaObject::invokeMethod(root(), "importModels", Q_ARG(QVariant, QVariant(QStringList {path})));
    }

    void connectPrinter(const QString &serial, const QString &nickname)
    {
        PrinterState state = ControllerTesting::printerRecord(serial, QStringLiteral("Orbelle"));
        state.nickname = nickname;
        controller()->updatePrinterState(state);
    }

    // The printer's next record: `change` applied to its current one.
    void publish(const QString &serial, const std::function<void(PrinterState &)> &change)
    {
        const PrinterState *current = controller()->printerList()->find(serial);
        PrinterState next = current ? *current : ControllerTesting::printerRecord(serial, QStringLiteral("Orbelle"));
        change(next);
        controller()->updatePrinterState(next);
    }

    QString cardText(const QString &serial, const QString &name)
    {
        QQuickItem *card = findItem(window(), QStringLiteral("printerCard_") + serial);
        QQuickItem *found = card ? card->findChild<QQuickItem *>(name) : nullptr;
        return found && found->isVisible() ? found->property("text").toString() : QString();
    }

    // Every state looked at shows each text whole (once a popup or page moving into place
    // stands), and is saved.
    void shoot(const QString &name)
    {
        QStringList problems;
        const bool whole = QTest::qWaitFor(
            [&] {
                problems = clippedTexts(window());
                return problems.isEmpty();
            },
            5000);
        QVERIFY2(whole, qPrintable(name + QStringLiteral(":\n  ") + problems.join(QStringLiteral("\n  "))));
        const QImage image = saveShot(window(), shotDir, name);
        QVERIFY2(!image.isNull(), qPrintable(name));
        QCOMPARE(image.size(), minimumSize);
        shots << name;
    }

private slots:
    void initTestCase()
    {
        // The controller announces the desktop: loopback only, ports of this run.
        ControllerTesting::keepNetworkOnLoopback(quint16(QRandomGenerator::global()->bounded(20000, 30000)));

        shotDir = screenshotDir(QStringLiteral("tessora-ui"));
        QVERIFY(files.isValid());

        previousHandler = qInstallMessageHandler(recordPageWarnings);
        RendererQMLItem::registerQmlType();
        app = std::make_unique<TessoraWindow>();
        QVERIFY(app->show());
        app->view().resize(minimumSize);
        QVERIFY(QTest::qWaitForWindowExposed(window()));
        QTRY_COMPARE_WITH_TIMEOUT(
            root()->property("width").toDouble(), double(minimumSize.width()), TestPatience::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(editor(), TestPatience::kWaitMs);
    }

    void cleanupTestCase()
    {
        app.reset();
        qInstallMessageHandler(previousHandler);
        qInfo().noquote() << "Screenshots in" << shotDir << ":" << shots.join(QStringLiteral(", "));
    }

    void mainPage_loadsWithoutWarnings()
    {
        QCOMPARE(app->view().status(), QQuickView::Ready);
        // Every page and component is part of the main page (the editor's through a loader), and
        // every popup is opened, warnings checked, at the smallest window size below.
        QVERIFY2(pageWarnings.isEmpty(), qPrintable(pageWarnings.join('\n')));
        // The controller is the page's, the editor item is the real one.
        QVERIFY(controller());
        QVERIFY(qobject_cast<RendererQMLItem *>(editor()));
        QCOMPARE(window()->size(), minimumSize);
    }

    void noModelAndNoPrinter_disableTheirActions()
    {
        QCOMPARE(root()->property("hasModels").toBool(), false);
        QCOMPARE(root()->property("printerCount").toInt(), 0);
        QVERIFY(visibleTexts(window()).contains(QStringLiteral("No models on the platform")));
        shoot(QStringLiteral("01-main-empty"));
        // No model: nothing to slice, transform or support.
        for (const char *name : {"saveJobButton", "undoButton", "redoButton", "clearAllButton", "applyPositionButton",
                 "centerButton", "rotateXButton", "scaleField", "duplicateButton", "deleteButton", "addSupportsButton",
                 "removeSupportsButton", "positionXField"}) {
            QQuickItem *control = item(QLatin1String(name));
            QVERIFY2(control && !control->isEnabled(), name);
        }
        // No printer: nothing to print on or to manage, but the printers panel offers a search.
        QVERIFY(!item(QStringLiteral("printButton"))->isEnabled());
        QSignalSpy announced(controller(), &MyGLWidget::networking_broadcastIP);
        QVERIFY(click(window(), item(QStringLiteral("printersButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(isUsable(item(QStringLiteral("searchPrintersButton"))), TestPatience::kWaitMs);
        QVERIFY(click(window(), item(QStringLiteral("searchPrintersButton"))));
        QCOMPARE(announced.count(), 1);
        QVERIFY(close(QStringLiteral("printersPanel")));
        for (const char *name : {"printerControlsItem", "fineTuneItem"})
            QVERIFY2(!find(window(), QLatin1String(name))->property("enabled").toBool(), name);
        QVERIFY(open(QStringLiteral("printerControlsDialog")));
        for (const char *name :
            {"platformUpButton", "platformDownButton", "tankUpButton", "tankDownButton", "projectGridButton",
                "projectorOffButton", "gCommandButton", "sendBoardCommandButton", "downloadConfigButton"}) {
            QQuickItem *control = item(QLatin1String(name));
            QVERIFY2(control && !control->isEnabled(), name);
        }
        QVERIFY(close(QStringLiteral("printerControlsDialog")));
        QVERIFY(QMetaObject::invokeMethod(find(window(), QStringLiteral("printDialog")), "openForModels"));
        QVERIFY(opens(QStringLiteral("printDialog")));
        QVERIFY(!item(QStringLiteral("printStartButton"))->isEnabled());
        QVERIFY(visibleTexts(window()).contains(QStringLiteral("No printer connected")));
        QVERIFY(close(QStringLiteral("printDialog")));
        QVERIFY(open(QStringLiteral("fineTuneWizard")));
        QVERIFY(!item(QStringLiteral("startNextButton"))->isEnabled());
        QVERIFY(close(QStringLiteral("fineTuneWizard")));
        // Importing and connecting stay possible.
        QVERIFY(item(QStringLiteral("importButton"))->isEnabled());
        QVERIFY(find(window(), QStringLiteral("connectPrinterItem"))->property("enabled").toBool());
    }

    void importedModel_enablesTheModelTools()
    {
        QVERIFY(importBox(QStringLiteral("cube20.stl"), 20, 30, 10));
        QTRY_VERIFY_WITH_TIMEOUT(root()->property("hasModels").toBool(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(root()->property("hasSelection").toBool(), TestPatience::kWaitMs);
        QCOMPARE(root()->property("importing").toBool(), false);
        // Its height stands on the platform: 10 mm (the file's z).
        QVERIFY(heightBecomes(10.0));

        for (const char *name : {"saveJobButton", "undoButton", "applyPositionButton", "centerButton", "rotateXButton",
                 "duplicateButton", "deleteButton", "addSupportsButton", "positionXField", "scaleField"}) {
            QQuickItem *control = item(QLatin1String(name));
            QVERIFY2(control && control->isEnabled(), name);
        }
        // Printing still needs a printer.
        QVERIFY(!item(QStringLiteral("printButton"))->isEnabled());

        auto *models = find(window(), QStringLiteral("modelList"));
        QTRY_COMPARE_WITH_TIMEOUT(models->property("count").toInt(), 1, TestPatience::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(visibleTexts(window()).contains(QStringLiteral("cube20.stl")), TestPatience::kWaitMs);
        const QStringList texts = visibleTexts(window());
        QVERIFY(texts.contains(QStringLiteral("Size 20 × 30 × 10 mm, 6 ml")));
        QVERIFY(texts.contains(QStringLiteral("Height 10 mm, volume 6 ml")));
        shoot(QStringLiteral("03-main-with-model"));
        QVERIFY(click(window(), item(QStringLiteral("supportsTab"))));
        shoot(QStringLiteral("04-main-supports-tab"));
        QVERIFY(click(window(), item(QStringLiteral("transformTab"))));
    }

    void modelTools_changeTheSelectedModel()
    {
        RendererQMLItem *renderer = qobject_cast<RendererQMLItem *>(editor());
        QSignalSpy transformations(renderer, &RendererQMLItem::selectedModelTransformationReceived);

        // Scale: the field is in percent, the editor takes a factor.
        QQuickItem *scale = item(QStringLiteral("scaleField"));
        scale->setProperty("text", QStringLiteral("50"));
        QVERIFY(click(window(), item(QStringLiteral("applyScaleButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!transformations.isEmpty(), TestPatience::kWaitMs);
        QCOMPARE(transformations.last().at(1).toDouble(), 0.5);
        QTRY_COMPARE_WITH_TIMEOUT(scale->property("text").toString(), QStringLiteral("50"), TestPatience::kWaitMs);
        QVERIFY(heightBecomes(5.0));

        // Position on the platform, millimetres: X along the long side, Y along the short one.
        transformations.clear();
        item(QStringLiteral("positionXField"))->setProperty("text", QStringLiteral("12.5"));
        item(QStringLiteral("positionYField"))->setProperty("text", QStringLiteral("-7"));
        QVERIFY(click(window(), item(QStringLiteral("applyPositionButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!transformations.isEmpty(), TestPatience::kWaitMs);
        const QVector3D position = transformations.last().at(0).value<QVector3D>();
        QVERIFY(qAbs(position.x() - 12.5f) < 1e-4f);
        QVERIFY(qAbs(position.z() + 7.0f) < 1e-4f);

        // Rotation about the platform's Y axis: 90 degrees lays the 10 mm side along X and the
        // 20 mm side upright.
        item(QStringLiteral("rotationAngleField"))->setProperty("text", QStringLiteral("90"));
        QVERIFY(click(window(), item(QStringLiteral("rotateYButton"))));
        QVERIFY(heightBecomes(10.0));

        // Duplicate and remove the copies: the list follows.
        QVERIFY(click(window(), item(QStringLiteral("duplicateButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(
            visibleTexts(window()).contains(QStringLiteral("cube20.stl  × 2")), TestPatience::kWaitMs);
        QVERIFY(click(window(), item(QStringLiteral("removeDuplicatesButton"))));
        // The name alone shows all along (the selection's): wait for the copies to go.
        QTRY_VERIFY_WITH_TIMEOUT(!visibleTexts(window()).contains(QStringLiteral("cube20.stl  × 2"))
                && root()->property("hasSelection").toBool(),
            TestPatience::kWaitMs);

        // Undo takes back the rotation.
        QVERIFY(click(window(), item(QStringLiteral("resetRotationButton"))));
        QVERIFY(heightBecomes(5.0));
        QVERIFY(click(window(), item(QStringLiteral("undoButton"))));
        QVERIFY(heightBecomes(10.0));
    }

    // A model too small asks for its units, one too large whether to scale it down: the import
    // waits for the answer (Escape does not dismiss the question), and accepting applies it.
    void importQuestion_waitsForTheAnswer_whichApplies_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QVector3D>("size");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("sizeText");
        QTest::newRow("05-units-prompt") << QStringLiteral("tiny.stl") << QVector3D(1, 1, 1)
                                         << QStringLiteral("unitsPrompt")
                                         << QStringLiteral("Size 25.4 × 25.4 × 25.4 mm, 16.39 ml"); // inches
        QTest::newRow("06-resize-prompt")
            << QStringLiteral("rod.stl") << QVector3D(250, 10, 10) << QStringLiteral("resizePrompt")
            << QStringLiteral("Size 203.2 × 8.1 × 8.1 mm");
    }

    void importQuestion_waitsForTheAnswer_whichApplies()
    {
        QFETCH(QString, file);
        QFETCH(QVector3D, size);
        QFETCH(QString, prompt);
        QFETCH(QString, sizeText);
        QObject *question = find(window(), prompt);
        QVERIFY(importBox(file, size.x(), size.y(), size.z()));
        QTRY_VERIFY_WITH_TIMEOUT(question->property("opened").toBool(), 20000);
        QTest::keyClick(window(), Qt::Key_Escape);
        QTest::qWait(50);
        QVERIFY(question->property("opened").toBool());
        shoot(QLatin1String(QTest::currentDataTag()));

        QVERIFY(click(window(), item(prompt + QStringLiteral("AcceptButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!question->property("visible").toBool(), TestPatience::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(visibleTexts(window()).contains(file), TestPatience::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(visibleTexts(window()).filter(sizeText).size() == 1, TestPatience::kWaitMs);
    }

    void modelOutsideTheBuildArea_isNotSliced()
    {
        // The rod, scaled down, is still too long for the platform's 128 mm.
        QVERIFY(QMetaObject::invokeMethod(root(), "saveJob", Q_ARG(QVariant, 50), Q_ARG(QVariant, false)));
        QVERIFY(opens(QStringLiteral("messageDialog")));
        QCOMPARE(find(window(), QStringLiteral("messageDialog"))->property("title").toString(),
            QStringLiteral("Model outside the build area"));
        shoot(QStringLiteral("07-outside-build-area"));
        QVERIFY(close(QStringLiteral("messageDialog")));
        QVERIFY(click(window(), item(QStringLiteral("deleteButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!visibleTexts(window()).contains(QStringLiteral("rod.stl")), TestPatience::kWaitMs);
    }

    void connectedPrinter_enablesPrinting_andResinLimitsThickness()
    {
        connectPrinter(QStringLiteral("TS100-0042"), QStringLiteral("Bench printer"));
        QTRY_COMPARE_WITH_TIMEOUT(root()->property("printerCount").toInt(), 1, TestPatience::kWaitMs);
        QVERIFY(item(QStringLiteral("printButton"))->isEnabled());
        QVERIFY(item(QStringLiteral("printersButton"))->isEnabled());
        QCOMPARE(textOf(QStringLiteral("printersButton")), QStringLiteral("Printers (1)"));

        QVERIFY(click(window(), item(QStringLiteral("printButton"))));
        QVERIFY(opens(QStringLiteral("printDialog")));
        QObject *dialog = find(window(), QStringLiteral("printDialog"));
        QCOMPARE(dialog->property("serial").toString(), QStringLiteral("TS100-0042"));

        // "Surgical Guide" offers no 20 µm layers: that thickness cannot be chosen.
        QQuickItem *resins = item(QStringLiteral("printResinCombo"));
        const int surgical = resins->property("model").toStringList().indexOf(QStringLiteral("Surgical Guide"));
        QVERIFY(surgical >= 0);
        resins->setProperty("currentIndex", surgical);
        QVERIFY(QMetaObject::invokeMethod(dialog, "refreshTimes"));
        QVERIFY(!item(QStringLiteral("thickness20"))->isEnabled());
        QVERIFY(item(QStringLiteral("thickness50"))->isEnabled());
        QCOMPARE(textOf(QStringLiteral("thicknessTime20")), QStringLiteral("not offered by this resin"));
        // The estimate is the controller's for the tallest model, in hours and minutes.
        const int minutes = controller()->getPrintTime(50, root()->property("maxModelHeight").toDouble(),
            QStringLiteral("TS100-0042"), QStringLiteral("Surgical Guide"));
        QVERIFY(minutes >= 0);
        const QString time = minutes < 60
            ? QStringLiteral("%1 min").arg(minutes)
            : QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
        QCOMPARE(textOf(QStringLiteral("printEstimate")), QStringLiteral("Estimated print time: ") + time);
        QVERIFY(item(QStringLiteral("printStartButton"))->isEnabled());
        shoot(QStringLiteral("08-print-dialog"));
        QVERIFY(close(QStringLiteral("printDialog")));
    }

    void printersPanel_showsProgressAndErrors_andSendsActions()
    {
        using A = PrinterState::Activity;
        const QString serial = QStringLiteral("TS100-0042");
        publish(serial, [](PrinterState &p) {
            p.activity = A::Printing;
            p.layer = 120;
            p.percent = 45;
            p.timeLeft = 65;
            p.jobName = QStringLiteral("bracket.ssj");
        });
        QVERIFY(click(window(), item(QStringLiteral("printersButton"))));
        QVERIFY(opens(QStringLiteral("printersPanel")));
        QTRY_VERIFY_WITH_TIMEOUT(findItem(window(), QStringLiteral("printerCard_") + serial), TestPatience::kWaitMs);
        QQuickItem *card = findItem(window(), QStringLiteral("printerCard_") + serial);
        const auto button = [&](const char *name) { return card->findChild<QQuickItem *>(QLatin1String(name)); };
        QCOMPARE(cardText(serial, QStringLiteral("printerName")), QStringLiteral("Bench printer"));
        QCOMPARE(cardText(serial, QStringLiteral("printerStatus")), QStringLiteral("Printing"));
        QCOMPARE(cardText(serial, QStringLiteral("printerProgressText")),
            QStringLiteral("Layer 120 · 45 % · 1 h 05 min left · bracket.ssj"));

        // A hardware error is shown in words, on the card and in a message.
        publish(serial, [](PrinterState &p) { p.lastError = 201; });
        controller()->network_printerErrorReceived(serial, 201);
        QTRY_VERIFY_WITH_TIMEOUT(
            cardText(serial, QStringLiteral("printerError")).startsWith(QStringLiteral("Printer error 201: ")),
            TestPatience::kWaitMs);
        QVERIFY(opens(QStringLiteral("messageDialog")));
        QVERIFY(textOf(QStringLiteral("messageDialog")).endsWith(MyGLWidget::printerErrorMessage(201)));
        QVERIFY(close(QStringLiteral("messageDialog")));

        // Pause goes to the printer; once paused, resume replaces it.
        QSignalSpy pauses(controller(), &MyGLWidget::sendPauseJob_networking);
        QVERIFY(click(window(), button("pauseButton")));
        QCOMPARE(pauses.size(), 1);
        QCOMPARE(pauses.at(0).at(0).toString(), serial);
        publish(serial, [](PrinterState &p) { p.activity = A::Paused; });
        QTRY_COMPARE_WITH_TIMEOUT(
            cardText(serial, QStringLiteral("printerStatus")), QStringLiteral("Paused"), TestPatience::kWaitMs);
        QVERIFY(!button("pauseButton")->isVisible());
        QVERIFY(button("resumeButton")->isVisible());
        QVERIFY(!button("reprintButton")->isEnabled());
        shoot(QStringLiteral("09-printers-panel"));

        // Cancelling asks first (what the pages show of the end of a print is the next test's).
        QSignalSpy cancels(controller(), &MyGLWidget::sendCancelJob_networking);
        QVERIFY(click(window(), button("cancelPrintButton")));
        QVERIFY(opens(QStringLiteral("printerConfirmDialog")));
        QCOMPARE(cancels.size(), 0);
        QVERIFY(click(window(), item(QStringLiteral("printerConfirmDialogYesButton"))));
        QCOMPARE(cancels.size(), 1);
        publish(serial, [](PrinterState &p) { p.activity = A::Ready; });
        QTRY_VERIFY_WITH_TIMEOUT(button("reprintButton")->isEnabled(), TestPatience::kWaitMs);

        // Reprint asks first, naming the job it prints.
        QSignalSpy reprints(controller(), &MyGLWidget::sendReprint_networking);
        QVERIFY(click(window(), button("reprintButton")));
        QVERIFY(opens(QStringLiteral("printerConfirmDialog")));
        QCOMPARE(textOf(QStringLiteral("printerConfirmDialogText")),
            QStringLiteral("Print bracket.ssj again on Bench printer?"));
        QCOMPARE(reprints.size(), 0);
        QVERIFY(click(window(), item(QStringLiteral("printerConfirmDialogYesButton"))));
        QCOMPARE(reprints.size(), 1);

        // Rename sends the new nickname; the card shows it as soon as the printer's record does.
        QSignalSpy renames(controller(), &MyGLWidget::sendChangeNickName_networking);
        QTRY_VERIFY_WITH_TIMEOUT(!find(window(), QStringLiteral("printerConfirmDialog"))->property("visible").toBool(),
            TestPatience::kWaitMs);
        QVERIFY(click(window(), button("renameButton")));
        QVERIFY(opens(QStringLiteral("renameDialog")));
        item(QStringLiteral("nicknameField"))->setProperty("text", QStringLiteral("Lab printer"));
        shoot(QStringLiteral("10-rename-printer"));
        QVERIFY(click(window(), item(QStringLiteral("renameSaveButton"))));
        QCOMPARE(renames.size(), 1);
        QCOMPARE(renames.at(0).at(1).toString(), QStringLiteral("Lab printer"));
        publish(serial, [](PrinterState &p) { p.nickname = QStringLiteral("Lab printer"); });
        QTRY_COMPARE_WITH_TIMEOUT(
            cardText(serial, QStringLiteral("printerName")), QStringLiteral("Lab printer"), TestPatience::kWaitMs);
        publish(serial, [](PrinterState &p) { p.nickname = QStringLiteral("Bench printer"); });
        QVERIFY(close(QStringLiteral("printersPanel")));
    }

    // The events of a printer in a row, as its record shows each, and what the pages must show
    // within a second: the card's words, the status bar, whether the print dialog, the fine-tune
    // wizard and the printer controls take the printer, and whether the event is announced.
    void everyPage_showsEachEventWithinASecond_data()
    {
        using A = PrinterState::Activity;
        using O = PrinterState::Outcome;
        QTest::addColumn<int>("activity"); // -1: the printer leaves
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("card"); // the start of the status words
        QTest::addColumn<QString>("statusBar"); // the start of the status bar's text
        QTest::addColumn<bool>("free"); // a new print and board commands are possible
        QTest::addColumn<bool>("announced");
        const QString height = QStringLiteral("Height ");
        const QString printing = QStringLiteral("Bench printer: Printing");
        const auto row = [](const char *name, int activity, O outcome, int error, const QString &card,
                             const QString &statusBar, bool free, bool announced) {
            QTest::newRow(name) << activity << int(outcome) << error << card << statusBar << free << announced;
        };
        row("job being sent", int(A::Sending), O::None, 0, QStringLiteral("Sending the job (40 %)"),
            QStringLiteral("Sending bracket.ssj to Bench printer (40 %)"), false, false);
        row("printing", int(A::Printing), O::None, 0, QStringLiteral("Printing"),
            QStringLiteral("Bench printer: Printing, layer 12, 30 %"), false, false);
        row("cancelled on the printer", int(A::Ready), O::Cancelled, 0, QStringLiteral("Ready · Print cancelled"),
            height, true, true);
        row("printing again", int(A::Printing), O::None, 0, QStringLiteral("Printing"), printing, false, false);
        row("printing error", int(A::Printing), O::None, 203, QStringLiteral("Printing"), printing, false, false);
        row("failed", int(A::Ready), O::Failed, 203, QStringLiteral("Ready · Print failed: Printer error 203: "),
            height, true, true);
        row("a third print", int(A::Printing), O::None, 0, QStringLiteral("Printing"), printing, false, false);
        row("done", int(A::Ready), O::Finished, 0, QStringLiteral("Ready · Print finished"), height, true, true);
        row("done reported again", int(A::Ready), O::Finished, 0, QStringLiteral("Ready · Print finished"), height,
            true, false);
        row("disconnected", -1, O::None, 0, QString(), height, false, false);
        row("reconnected", int(A::Ready), O::None, 0, QStringLiteral("Ready"), height, true, false);
    }

    void everyPage_showsEachEventWithinASecond()
    {
        QFETCH(int, activity);
        QFETCH(int, outcome);
        QFETCH(int, error);
        QFETCH(QString, card);
        QFETCH(QString, statusBar);
        QFETCH(bool, free);
        QFETCH(bool, announced);
        const QString serial = QStringLiteral("TS100-0042");
        const bool waiting = activity == int(PrinterState::Activity::Sending);
        QObject *notices = find(window(), QStringLiteral("noticeModel"));
        const int noticesBefore = notices->property("count").toInt();
        if (activity < 0)
            controller()->printerDisconnected_networked(serial);
        else
            publish(serial, [&](PrinterState &p) {
                p.nickname = QStringLiteral("Bench printer");
                p.activity = PrinterState::Activity(activity);
                p.outcome = PrinterState::Outcome(outcome);
                p.lastError = error;
                p.commandsWait = waiting;
                p.bytesSent = 40;
                p.bytesTotal = 100;
                p.jobName = QStringLiteral("bracket.ssj");
                p.layer = 12;
                p.percent = 30;
            });
        QVERIFY(open(QStringLiteral("printersPanel")));
        QTRY_COMPARE_WITH_TIMEOUT(cardText(serial, QStringLiteral("printerStatus")).left(card.size()), card, 1000);
        QCOMPARE(cardText(serial, QStringLiteral("printerWaiting")).isEmpty(), !waiting);
        QCOMPARE(cardText(serial, QStringLiteral("printerError")).startsWith(QStringLiteral("Printer error 203")),
            error != 0 && !free);
        QVERIFY(close(QStringLiteral("printersPanel")));
        QTRY_VERIFY_WITH_TIMEOUT(textOf(QStringLiteral("statusMessage")).startsWith(statusBar), 1000);
        for (const char *name : {"printToleranceButton", "projectorOffButton", "platformUpButton"})
            QTRY_VERIFY2_WITH_TIMEOUT(item(QLatin1String(name))->isEnabled() == free, name, 1000);
        QCOMPARE(
            find(window(), QStringLiteral("printDialog"))->property("printerBusy").toBool(), activity >= 0 && !free);
        QCOMPARE(textOf(QStringLiteral("controlsBusyWarning")) == QStringLiteral("Waiting for the job transfer to end"),
            waiting);
        QCOMPARE(notices->property("count").toInt(), noticesBefore + (announced ? 1 : 0));
    }

    void scalingTab_showsTheFactorsSavedOnThePrinter()
    {
        const QString serial = QStringLiteral("TS100-0042");
        publish(serial, [](PrinterState &p) {
            Resin clear(QStringLiteral("Clear"));
            clear.scaleX50 = 0.995;
            clear.fineTuneFactor50 = 1.05;
            p.resins = {clear};
        });
        QVERIFY(open(QStringLiteral("printerSettingsDialog")));
        find(window(), QStringLiteral("settingsTabs"))->setProperty("currentIndex", 2);
        QQuickItem *resins = item(QStringLiteral("scalingResin"));
        resins->setProperty("currentIndex", resins->property("model").toStringList().indexOf(QStringLiteral("Clear")));
        QTRY_COMPARE_WITH_TIMEOUT(textOf(QStringLiteral("scaleXField")), QStringLiteral("99.5"), TestPatience::kWaitMs);
        QCOMPARE(textOf(QStringLiteral("scaleYField")), QStringLiteral("100"));
        QCOMPARE(textOf(QStringLiteral("exposureFactorField")), QStringLiteral("105"));
        QVERIFY(textOf(QStringLiteral("calibratedState")).contains(QStringLiteral("has been")));
        // A fine-tune saved meanwhile (by the wizard, or on another computer) shows at once.
        publish(serial, [](PrinterState &p) { p.resins[0].fineTuneFactor50 = 1.1; });
        QTRY_COMPARE_WITH_TIMEOUT(textOf(QStringLiteral("exposureFactorField")), QStringLiteral("110"), 1000);
        QVERIFY(visibleTexts(window()).contains(
            QStringLiteral("Saved on the printer: scale X 99.5 %, Y 100 %, exposure 110 %")));
        shoot(QStringLiteral("19b-settings-saved-scaling"));
        QVERIFY(close(QStringLiteral("printerSettingsDialog")));
    }

    void connectWizard_foundPrinterGone_isNotShownConnected()
    {
        QObject *wizard = find(window(), QStringLiteral("connectWizard"));
        QVERIFY(open(QStringLiteral("connectWizard")));
        QVERIFY(QMetaObject::invokeMethod(wizard, "startSearch", Q_ARG(QVariant, false)));
        connectPrinter(QStringLiteral("W1"), QStringLiteral("Workshop"));
        QTRY_COMPARE_WITH_TIMEOUT(
            textOf(QStringLiteral("searchStatus")), QStringLiteral("Connected to Workshop."), TestPatience::kWaitMs);
        controller()->printerDisconnected_networked(QStringLiteral("W1"));
        QTRY_COMPARE_WITH_TIMEOUT(textOf(QStringLiteral("searchStatus")),
            QStringLiteral("Workshop was found but is no longer connected."), 1000);
        QVERIFY(!item(QStringLiteral("searchDoneButton"))->isVisible());
        QVERIFY(close(QStringLiteral("connectWizard")));
    }

    void printerUpdate_installsOnlyWithTheUsersConsent()
    {
        QSignalSpy installs(controller(), &MyGLWidget::sendInstallUpdate);
        for (const char *answer : {"updateConfirmDialogNoButton", "updateConfirmDialogYesButton"}) {
            controller()->receiveUpdateRequest(QStringLiteral("OLD-7"));
            QVERIFY(opens(QStringLiteral("updateConfirmDialog")));
            QVERIFY(textOf(QStringLiteral("updateConfirmDialogText"))
                        .contains(QStringLiteral("The printer OLD-7 needs a new version")));
            QCOMPARE(installs.count(), 0);
            QVERIFY(click(window(), item(QLatin1String(answer))));
            QTRY_VERIFY_WITH_TIMEOUT(
                !find(window(), QStringLiteral("updateConfirmDialog"))->property("visible").toBool(),
                TestPatience::kWaitMs);
        }
        QCOMPARE(installs.count(), 1);
        QCOMPARE(installs.at(0).at(0).toString(), QStringLiteral("OLD-7"));
    }

    void printModels_slicesForThePrintersModel_eachPrintInItsOwnFile()
    {
        QSignalSpy handed(controller(), &MyGLWidget::sendPrintJob);
        for (const char *serial : {"Q75-1", "Q75-2"}) {
            PrinterState printer = ControllerTesting::printerRecord(QLatin1String(serial), QStringLiteral("Orbelle75"));
            controller()->updatePrinterState(printer);
        }
        const auto crossesWalls = [this] {
            bool crosses = true;
            QMetaObject::invokeMethod(editor(), "doAnyModelsIntersectWalls", Q_RETURN_ARG(bool, crosses));
            return crosses;
        };
        // Alone on the platform, a model stays centred. 110 mm long: it fits the 128 mm platform
        // of a 100-micron printer, not the 96 mm one.
        QVERIFY(click(window(), item(QStringLiteral("clearAllButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(isUsable(item(QStringLiteral("clearConfirmDialogYesButton"))), TestPatience::kWaitMs);
        QVERIFY(click(window(), item(QStringLiteral("clearConfirmDialogYesButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!root()->property("hasModels").toBool(), 10000);
        QVERIFY(importBox(QStringLiteral("bar.stl"), 110, 10, 5));
        QTRY_VERIFY_WITH_TIMEOUT(visibleTexts(window()).contains(QStringLiteral("bar.stl")), 20000);
        QVERIFY(!crossesWalls());
        QVERIFY(QMetaObject::invokeMethod(root(), "printModels", Q_ARG(QVariant, QStringLiteral("Q75-1")),
            Q_ARG(QVariant, QStringLiteral("Clear")), Q_ARG(QVariant, 100), Q_ARG(QVariant, false)));
        QVERIFY(opens(QStringLiteral("messageDialog")));
        QVERIFY(textOf(QStringLiteral("messageDialog")).contains(QStringLiteral("NickQ75-1 (96 × 60 mm")));
        QCOMPARE(editor()->property("platformIs75Microns").toBool(), true);
        QCOMPARE(item(QStringLiteral("platformChoice"))->property("currentIndex").toInt(), 1);
        QVERIFY(close(QStringLiteral("messageDialog")));
        QCOMPARE(handed.count(), 0);
        QVERIFY(click(window(), item(QStringLiteral("deleteButton"))));
        QVERIFY(importBox(QStringLiteral("small.stl"), 10, 10, 5));
        QTRY_VERIFY_WITH_TIMEOUT(visibleTexts(window()).contains(QStringLiteral("small.stl")), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!visibleTexts(window()).contains(QStringLiteral("bar.stl")) && !crossesWalls(), 10000);

        // Two quick prints of the same models: two files, each sliced for 75-micron pixels.
        for (const char *serial : {"Q75-1", "Q75-2"})
            QVERIFY(QMetaObject::invokeMethod(root(), "printModels", Q_ARG(QVariant, QLatin1String(serial)),
                Q_ARG(QVariant, QStringLiteral("Clear")), Q_ARG(QVariant, 100), Q_ARG(QVariant, false)));
        QTRY_COMPARE_WITH_TIMEOUT(handed.count(), 2, 60000);
        const QString first = handed.at(0).at(1).toString();
        const QString second = handed.at(1).at(1).toString();
        QVERIFY(first != second);
        QCOMPARE(QFileInfo(first).fileName(), QFileInfo(second).fileName());
        for (const QString &path : {first, second}) {
            CrushedPrintJob job;
            QFile file(path);
            QVERIFY2(job.loadCPJ(&file), qPrintable(path));
            QCOMPARE(job.description(), QStringLiteral("sliced at 75 microns"));
        }
        for (const char *serial : {"Q75-1", "Q75-2"})
            controller()->printerDisconnected_networked(QLatin1String(serial));
        QVERIFY(!QFile::exists(first) && !QFile::exists(second));
        QVERIFY(QMetaObject::invokeMethod(root(), "usePlatform", Q_ARG(QVariant, false)));
    }

    void everyDialog_atMinimumSize_showsWholeTextsWithUnits()
    {
        struct Step {
            QString popup;
            QString shot;
            std::function<void()> prepare;
        };
        auto tab = [this](const QString &name) { return [this, name] { QVERIFY(click(window(), item(name))); }; };
        auto page = [this](const QString &popup, int number) {
            return [this, popup, number] { find(window(), popup)->setProperty("page", number); };
        };
        const QString wizard = QStringLiteral("connectWizard");
        const QString settings = QStringLiteral("printerSettingsDialog");
        const QString fineTune = QStringLiteral("fineTuneWizard");
        const QString jobPath = files.filePath(QStringLiteral("three.ssj"));
        QVERIFY(ControllerTesting::writeJob(jobPath, 0.05, 3, QStringLiteral("sliced at 100 microns")));
        const QList<Step> steps = {{QStringLiteral("toolsMenu"), QStringLiteral("02-tools-menu"), {}},
            {QStringLiteral("sliceDialog"), QStringLiteral("11-save-job"), {}},
            {wizard, QStringLiteral("12-connect-choice"), {}},
            {wizard, QStringLiteral("13-connect-direct"), page(wizard, 1)},
            {wizard, QStringLiteral("14-connect-router"), page(wizard, 2)},
            {wizard, QStringLiteral("15-connect-wifi"), page(wizard, 3)},
            {wizard, QStringLiteral("16-connect-search-timed-out"),
                [&] {
                    QObject *popup = find(window(), wizard);
                    popup->setProperty("page", 5);
                    popup->setProperty("searching", false);
                    popup->setProperty("foundSerial", QString());
                }},
            {settings, QStringLiteral("17-settings-resins"), {}},
            {settings, QStringLiteral("18-settings-cure-times"), tab(QStringLiteral("cureTimesTab"))},
            {settings, QStringLiteral("19-settings-scaling"), tab(QStringLiteral("scalingTab"))},
            {settings, QStringLiteral("20-settings-printer"), tab(QStringLiteral("printerTab"))},
            {fineTune, QStringLiteral("21-finetune-start"), {}},
            {fineTune, QStringLiteral("22-finetune-kind"), page(fineTune, 1)},
            {fineTune, QStringLiteral("23-finetune-tolerance-print"), page(fineTune, 2)},
            {fineTune, QStringLiteral("24-finetune-tolerance-result"), page(fineTune, 3)},
            {fineTune, QStringLiteral("25-finetune-dimensions-kind"), page(fineTune, 4)},
            {fineTune, QStringLiteral("26-finetune-dimensions-print"), page(fineTune, 5)},
            {fineTune, QStringLiteral("27-finetune-dimensions-result"),
                [&] {
                    find(window(), fineTune)->setProperty("page", 6);
                    item(QStringLiteral("tierX0Field"))->setProperty("text", QStringLiteral("40.2"));
                    item(QStringLiteral("tierX2Field"))->setProperty("text", QStringLiteral("20.2"));
                    item(QStringLiteral("tierY1Field"))->setProperty("text", QStringLiteral("19.9"));
                }},
            {fineTune, QStringLiteral("28-finetune-manual"), page(fineTune, 7)},
            {QStringLiteral("printerControlsDialog"), QStringLiteral("29-printer-controls"), {}},
            {QStringLiteral("serialModelDialog"), QStringLiteral("30-qa-serial-model"), {}},
            {QStringLiteral("grayscaleDialog"), QStringLiteral("31-qa-grayscale"), {}},
            {QStringLiteral("jobViewer"), QStringLiteral("32-job-viewer"),
                [&] { QVERIFY(QMetaObject::invokeMethod(root(), "openJobInViewer", Q_ARG(QVariant, jobPath))); }}};
        QString openPopup;
        QStringList warnings;
        for (const Step &step : steps) {
            pageWarnings.clear();
            if (openPopup != step.popup) {
                if (!openPopup.isEmpty())
                    QVERIFY(close(openPopup));
                QVERIFY2(open(step.popup), qPrintable(step.popup));
                openPopup = step.popup;
            }
            if (step.prepare)
                step.prepare();
            QTest::qWait(30);
            shoot(step.shot);
            for (const QString &warning : qAsConst(pageWarnings))
                warnings << step.shot + QStringLiteral(": ") + warning;
        }
        QVERIFY(close(openPopup));
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));
    }

    void disconnectedPrinter_leavesTheLists()
    {
        controller()->printerDisconnected_networked(QStringLiteral("TS100-0042"));
        QTRY_COMPARE_WITH_TIMEOUT(root()->property("printerCount").toInt(), 0, TestPatience::kWaitMs);
        QVERIFY(!item(QStringLiteral("printButton"))->isEnabled());
        QCOMPARE(textOf(QStringLiteral("printersButton")), QStringLiteral("Printers (0)"));
        QVERIFY2(pageWarnings.isEmpty(), qPrintable(pageWarnings.join('\n')));
    }
};

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    TestUiPages test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_uipages.moc"
