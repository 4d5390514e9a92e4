// The pages in a real window (Xvfb, Mesa's software OpenGL, the real editor item): they
// load without warnings, actions are disabled where they cannot work, the import prompts
// ask the import's questions, the printer pages show and send what the controller
// reports and expects, and at the smallest window size no text is cut off. Every state
// looked at is saved as a PNG (TESSORA_SCREENSHOT_DIR, else a folder in the temp dir).
#include "controllertesting.h"
#include "meshtesting.h"
#include "myglwidget.h"
#include "printerlistmodel.h"
#include "rendererqmlitem.h"
#include "sceneeditor.h"
#include "tessoraapp.h"
#include "testjobs.h"
#include "uitesting.h"
#include "userimportedmeshsupports.h"
#include "waiting.h"

#include <QApplication>
#include <QColor>
#include <QFileInfo>
#include <QImage>
#include <QQuickItem>
#include <QQuickView>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
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

    // The printer's next record: `change` applied to its current one (to a new printer's first).
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
        // No printer: nothing to print on or to manage.
        QVERIFY(!item(QStringLiteral("printButton"))->isEnabled());
        for (const char *name : {"printerControlsItem", "fineTuneItem"})
            QVERIFY2(!find(window(), QLatin1String(name))->property("enabled").toBool(), name);
        // (The printer controls refuse a missing printer in the events below: a printer gone.)
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
        // Its height stands on the platform: 10 mm (the file's z).
        QTRY_COMPARE_WITH_TIMEOUT(root()->property("maxModelHeight").toDouble(), 10.0, TestPatience::kWaitMs);

        for (const char *name : {"saveJobButton", "applyPositionButton", "centerButton", "rotateXButton",
                 "duplicateButton", "deleteButton", "addSupportsButton", "positionXField", "scaleField"}) {
            QQuickItem *control = item(QLatin1String(name));
            QVERIFY2(control && control->isEnabled(), name);
        }
        // An import is no step of the history: nothing to undo yet.
        QVERIFY(!item(QStringLiteral("undoButton"))->isEnabled());
        // Printing still needs a printer.
        QVERIFY(!item(QStringLiteral("printButton"))->isEnabled());

        QTRY_VERIFY_WITH_TIMEOUT(
            visibleTexts(window()).contains(QStringLiteral("Size 20 × 30 × 10 mm, 6 ml")), TestPatience::kWaitMs);
        shoot(QStringLiteral("03-main-with-model"));
        // A number field clicked into takes the whole value: typing replaces it.
        QQuickItem *scale = item(QStringLiteral("scaleField"));
        const QString shown = scale->property("text").toString();
        QVERIFY(click(window(), scale));
        QTRY_COMPARE_WITH_TIMEOUT(scale->property("selectedText").toString(), shown, TestPatience::kWaitMs);
        for (const char key : {'5', '0'})
            QTest::keyClick(window(), key);
        QCOMPARE(scale->property("text").toString(), QStringLiteral("50"));
        scale->setProperty("text", shown); // nothing applied
        QVERIFY(click(window(), item(QStringLiteral("supportsTab"))));
        // Without lift the model stands on the platform under its supports: no higher.
        QVERIFY(click(window(), item(QStringLiteral("supportNoLift"))));
        QVERIFY(item(QStringLiteral("supportNoLift"))->property("checked").toBool());
        QVERIFY(click(window(), item(QStringLiteral("addSupportsButton"))));
        auto *view = qobject_cast<RendererQMLItem *>(editor());
        const std::shared_ptr<UserImportedMesh> mesh = view->editor().platform().selectedModel()->mesh();
        QTRY_VERIFY_WITH_TIMEOUT(mesh->hasSupports() && !root()->property("busy").toBool(), TestPatience::kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(root()->property("maxModelHeight").toDouble(), 10.0, TestPatience::kWaitMs);
        shoot(QStringLiteral("04-main-supports-tab"));
        // Hollowing is the plate's: the block's defaults reach the editor when it is ticked.
        QVERIFY(click(window(), item(QStringLiteral("hollowCheck"))));
        QCOMPARE(view->editor().hollowing().wall, 2.0);
        auto *supports = qvariant_cast<QQuickItem *>(item(QStringLiteral("supportsScroll"))->property("contentItem"));
        supports->setProperty("contentY", supports->property("contentHeight").toReal() - supports->height());
        shoot(QStringLiteral("04-main-hollow-block"));
        QVERIFY(click(window(), item(QStringLiteral("hollowCheck"))));
        QCOMPARE(view->editor().hollowing().wall, 0.0);
        QVERIFY(click(window(), item(QStringLiteral("supportNoLift"))));
        QVERIFY(QMetaObject::invokeMethod(view, "undoAction"));
        QTRY_VERIFY_WITH_TIMEOUT(!mesh->hasSupports(), TestPatience::kWaitMs);
        QVERIFY(click(window(), item(QStringLiteral("transformTab"))));
    }

    // A support deleted with a right click comes back with Ctrl+Z; Undo and Redo follow what
    // can be undone and redone. Undone to the end, the model stands as imported.
    void supportEdit_undoneWithCtrlZ_toolBarFollows()
    {
        auto *view = qobject_cast<RendererQMLItem *>(editor());
        QVERIFY(view && root()->property("hasSelection").toBool());
        const std::shared_ptr<UserImportedMesh> mesh = view->editor().platform().selectedModel()->mesh();
        QVERIFY(QMetaObject::invokeMethod(view, "addSupportsToSelectedModel", Q_ARG(double, 1), Q_ARG(double, 50)));
        QTRY_VERIFY_WITH_TIMEOUT(mesh->hasSupports() && !root()->property("busy").toBool(), TestPatience::kWaitMs);
        const size_t anchors = mesh->supports().anchors().size();
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("undoButton"))->isEnabled(), TestPatience::kWaitMs);
        QVERIFY(!item(QStringLiteral("redoButton"))->isEnabled());

        // Half-way up the first support, as the window shows it.
        view->setProperty("inEditSupportMode", true);
        const UserImportedMeshSingleAnchorSupports &anchor = *mesh->supports().anchors().front();
        const QVector3D top
            = mesh->supportMatrix().map(UserImportedMeshSupports::fromEngineFrame(anchor.enginePoint()));
        const std::optional<QPointF> pixel = view->editor().camera().projectToPixel(top * QVector3D(1, 0.5f, 1));
        QVERIFY(pixel);
        QTest::mouseClick(window(), Qt::RightButton, Qt::NoModifier, view->mapToScene(*pixel).toPoint());
        QTRY_COMPARE_WITH_TIMEOUT(mesh->supports().anchors().size(), anchors - 1, TestPatience::kWaitMs);
        shoot(QStringLiteral("05a-support-deleted"));

        // Shortcuts reach the window that has the keyboard.
        window()->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window()));
        QTest::keyClick(window(), Qt::Key_Z, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(mesh->supports().anchors().size(), anchors, TestPatience::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(item(QStringLiteral("redoButton"))->isEnabled(), TestPatience::kWaitMs);
        QVERIFY(item(QStringLiteral("undoButton"))->isEnabled()); // the supports themselves
        shoot(QStringLiteral("05b-support-edit-undone"));
        view->setProperty("inEditSupportMode", false);

        QVERIFY(click(window(), item(QStringLiteral("undoButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!mesh->hasSupports(), TestPatience::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!item(QStringLiteral("undoButton"))->isEnabled(), TestPatience::kWaitMs);
        QVERIFY(item(QStringLiteral("redoButton"))->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(root()->property("maxModelHeight").toDouble(), 10.0, TestPatience::kWaitMs);
    }

    // A model too large asks whether to scale it down: the import waits for the answer (Escape
    // does not dismiss the question), and accepting applies it. Still longer than the
    // platform's 128 mm, the model is not sliced.
    void largeImport_waitsForTheAnswer_thenOutsideTheBuildArea_isNotSliced()
    {
        QObject *question = find(window(), QStringLiteral("resizePrompt"));
        QVERIFY(importBox(QStringLiteral("rod.stl"), 250, 10, 10));
        QTRY_VERIFY_WITH_TIMEOUT(question->property("opened").toBool(), 20000);
        QTest::keyClick(window(), Qt::Key_Escape);
        QTest::qWait(50);
        QVERIFY(question->property("opened").toBool());
        shoot(QStringLiteral("06-resize-prompt"));
        QVERIFY(click(window(), item(QStringLiteral("resizePromptAcceptButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!question->property("visible").toBool(), TestPatience::kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(visibleTexts(window()).filter(QStringLiteral("Size 203.2 × 8.1 × 8.1 mm")).size() == 1,
            TestPatience::kWaitMs);

        QVERIFY(QMetaObject::invokeMethod(
            root(), "saveJob", Q_ARG(QVariant, 50), Q_ARG(QVariant, false), Q_ARG(QVariant, 0)));
        QVERIFY(opens(QStringLiteral("messageDialog")));
        QCOMPARE(find(window(), QStringLiteral("messageDialog"))->property("title").toString(),
            QStringLiteral("Model outside the build area"));
        shoot(QStringLiteral("07-outside-build-area"));
        QVERIFY(close(QStringLiteral("messageDialog")));
        // Scale to fit in the model panel brings it inside the walls.
        QTRY_VERIFY_WITH_TIMEOUT(isUsable(item(QStringLiteral("scaleToFitButton"))), TestPatience::kWaitMs);
        QVERIFY(click(window(), item(QStringLiteral("scaleToFitButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!item(QStringLiteral("scaleToFitRow"))->isVisible(), TestPatience::kWaitMs);
        QVERIFY(visibleTexts(window()).filter(QStringLiteral("rod.stl is outside")).isEmpty());
        QVERIFY(click(window(), item(QStringLiteral("deleteButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!visibleTexts(window()).contains(QStringLiteral("rod.stl")), TestPatience::kWaitMs);
    }

    void connectedPrinter_enablesPrinting_andResinLimitsThickness()
    {
        publish(QStringLiteral("TS100-0042"), [](PrinterState &p) { p.nickname = QStringLiteral("Bench printer"); });
        QTRY_COMPARE_WITH_TIMEOUT(root()->property("printerCount").toInt(), 1, TestPatience::kWaitMs);
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
        QVERIFY(item(QStringLiteral("printStartButton"))->isEnabled());
        shoot(QStringLiteral("08-print-dialog"));
        QVERIFY(close(QStringLiteral("printDialog")));
    }

    // The card shows the print's progress; pause goes to the printer, cancelling asks first.
    void printersPanel_showsProgress_andSendsActions()
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
        QCOMPARE(cardText(serial, QStringLiteral("printerProgressText")),
            QStringLiteral("Layer 120 · 45 % · 1 h 05 min left · bracket.ssj"));

        QSignalSpy pauses(controller(), &MyGLWidget::sendPauseJob_networking);
        QVERIFY(click(window(), button("pauseButton")));
        QCOMPARE(pauses.size(), 1);
        QCOMPARE(pauses.at(0).at(0).toString(), serial);
        shoot(QStringLiteral("09-printers-panel"));

        QSignalSpy cancels(controller(), &MyGLWidget::sendCancelJob_networking);
        QVERIFY(click(window(), button("cancelPrintButton")));
        QVERIFY(opens(QStringLiteral("printerConfirmDialog")));
        QCOMPARE(cancels.size(), 0);
        QVERIFY(click(window(), item(QStringLiteral("printerConfirmDialogYesButton"))));
        QCOMPARE(cancels.size(), 1);
        publish(serial, [](PrinterState &p) { p.activity = A::Ready; });
        QTRY_VERIFY_WITH_TIMEOUT(!find(window(), QStringLiteral("printerConfirmDialog"))->property("visible").toBool(),
            TestPatience::kWaitMs);
        QVERIFY(close(QStringLiteral("printersPanel")));
    }

    // The events of a printer in a row, as its record shows each, and what the pages must show
    // within a second: the card's words, whether the print dialog, the fine-tune wizard and the
    // printer controls take the printer, and whether the event is announced.
    void everyPage_showsEachEventWithinASecond_data()
    {
        using A = PrinterState::Activity;
        using O = PrinterState::Outcome;
        QTest::addColumn<int>("activity"); // -1: the printer leaves
        QTest::addColumn<int>("outcome");
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("card"); // the start of the status words
        QTest::addColumn<bool>("free"); // a new print and board commands are possible
        QTest::addColumn<bool>("announced");
        const auto row
            = [](const char *name, int activity, O outcome, int error, const QString &card, bool free, bool announced) {
                  QTest::newRow(name) << activity << int(outcome) << error << card << free << announced;
              };
        const QString printing = QStringLiteral("Printing");
        row("job being sent", int(A::Sending), O::None, 0, QStringLiteral("Sending the job (40 %)"), false, false);
        row("printing", int(A::Printing), O::None, 0, printing, false, false);
        row("cancelled on the printer", int(A::Ready), O::Cancelled, 0, QStringLiteral("Ready · Print cancelled"), true,
            true);
        row("printing again", int(A::Printing), O::None, 0, printing, false, false);
        row("printing error", int(A::Printing), O::None, 203, printing, false, false);
        row("failed", int(A::Ready), O::Failed, 203, QStringLiteral("Ready · Print failed: Printer error 203: "), true,
            true);
        row("a third print", int(A::Printing), O::None, 0, printing, false, false);
        row("done", int(A::Ready), O::Finished, 0, QStringLiteral("Ready · Print finished"), true, true);
        row("done reported again", int(A::Ready), O::Finished, 0, QStringLiteral("Ready · Print finished"), true,
            false);
        row("disconnected", -1, O::None, 0, QString(), false, false);
        row("reconnected", int(A::Ready), O::None, 0, QStringLiteral("Ready"), true, false);
    }

    void everyPage_showsEachEventWithinASecond()
    {
        QFETCH(int, activity);
        QFETCH(int, outcome);
        QFETCH(int, error);
        QFETCH(QString, card);
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
        for (const char *name : {"printToleranceButton", "projectorOffButton", "platformUpButton"})
            QTRY_VERIFY2_WITH_TIMEOUT(item(QLatin1String(name))->isEnabled() == free, name, 1000);
        QCOMPARE(
            find(window(), QStringLiteral("printDialog"))->property("printerBusy").toBool(), activity >= 0 && !free);
        QCOMPARE(textOf(QStringLiteral("controlsBusyWarning")) == QStringLiteral("Waiting for the job transfer to end"),
            waiting);
        QCOMPARE(notices->property("count").toInt(), noticesBefore + (announced ? 1 : 0));
    }

    void connectWizard_foundPrinterGone_isNotShownConnected()
    {
        QObject *wizard = find(window(), QStringLiteral("connectWizard"));
        QVERIFY(open(QStringLiteral("connectWizard")));
        QVERIFY(QMetaObject::invokeMethod(wizard, "startSearch", Q_ARG(QVariant, false)));
        publish(QStringLiteral("W1"), [](PrinterState &p) { p.nickname = QStringLiteral("Workshop"); });
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
            {QStringLiteral("unitsPrompt"), QStringLiteral("10-units-prompt"), {}},
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

    void islandWarning_showThem_opensTheViewerOnTheIsland_saveAnyway_keepsTheJob()
    {
        pageWarnings.clear();
        // A freshly sliced job waiting for the answer, with one island of 40 × 30 pixels on
        // layer 4.
        const QString scratch = controller()->scratchJobPath(QStringLiteral("islands.ssj"));
        const QRect block(600, 300, 40, 30);
        QVERIFY(floatingBlockJob(6, 3, block, 0.05, QSize(1280, 800)).saveCPJ(scratch));
        const QString destination = files.filePath(QStringLiteral("islands.ssj"));
        QObject *warning = find(window(), QStringLiteral("islandWarningDialog"));
        QObject *viewer = find(window(), QStringLiteral("jobViewer"));
        warning->setProperty("purpose", QStringLiteral("save"));
        warning->setProperty("jobPath", scratch);
        warning->setProperty("destination", destination);

        QVERIFY(controller()->warnOfIslands(scratch));
        QVERIFY(opens(QStringLiteral("islandWarningDialog")));
        QCOMPARE(textOf(QStringLiteral("islandWarningText")),
            QStringLiteral("The supports leave 1 island (largest 1200 px at layer 4)."));
        shoot(QStringLiteral("33-island-warning"));

        QVERIFY(click(window(), item(QStringLiteral("islandShowButton"))));
        QVERIFY(opens(QStringLiteral("jobViewer")));
        QTRY_COMPARE_WITH_TIMEOUT(viewer->property("layerText").toString(), QStringLiteral("4"), TestPatience::kWaitMs);
        QCOMPARE(textOf(QStringLiteral("layerNumber")), QStringLiteral("Layer 4 of 6 - 0.20 mm"));
        QCOMPARE(QColor(controller()->lastShownImage().pixel(block.center())), QColor(Qt::red));
        shoot(QStringLiteral("34-job-viewer-islands"));
        // A click on the island in the list comes back to its layer.
        QVERIFY(click(window(), item(QStringLiteral("nextLayerButton"))));
        QTRY_COMPARE_WITH_TIMEOUT(viewer->property("layerText").toString(), QStringLiteral("5"), TestPatience::kWaitMs);
        QVERIFY(click(window(), item(QStringLiteral("island_0"))));
        QTRY_COMPARE_WITH_TIMEOUT(viewer->property("layerText").toString(), QStringLiteral("4"), TestPatience::kWaitMs);
        QVERIFY(close(QStringLiteral("jobViewer")));
        QVERIFY(QFileInfo::exists(scratch));
        QVERIFY(!QFileInfo::exists(destination));

        // Saved anyway: the job reaches the chosen file and the viewer shows it.
        QVERIFY(controller()->warnOfIslands(scratch));
        QVERIFY(opens(QStringLiteral("islandWarningDialog")));
        QVERIFY(click(window(), item(QStringLiteral("islandGoOnButton"))));
        QVERIFY(opens(QStringLiteral("jobViewer")));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(destination), TestPatience::kWaitMs);
        QVERIFY(!QFileInfo::exists(scratch));
        QCOMPARE(viewer->property("jobPath").toString(), destination);
        QCOMPARE(textOf(QStringLiteral("layerNumber")), QStringLiteral("Layer 1 of 6 - 0.05 mm"));
        QVERIFY(close(QStringLiteral("jobViewer")));
        // A closed cavity is asked about the same way.
        const QString cavity = controller()->scratchJobPath(QStringLiteral("cavity.ssj"));
        QVERIFY(hollowBoxJob(20, 3, 3).saveCPJ(cavity));
        warning->setProperty("jobPath", cavity);
        QVERIFY(controller()->warnOfIslands(cavity));
        QVERIFY(opens(QStringLiteral("islandWarningDialog")));
        QVERIFY(textOf(QStringLiteral("islandWarningText")).contains(QStringLiteral("traps 11.4 mm")));
        shoot(QStringLiteral("35-trap-warning"));
        QVERIFY(click(window(), item(QStringLiteral("islandShowButton"))));
        QVERIFY(opens(QStringLiteral("jobViewer")));
        QTRY_COMPARE_WITH_TIMEOUT(viewer->property("layerText").toString(), QStringLiteral("4"), TestPatience::kWaitMs);
        QCOMPARE(textOf(QStringLiteral("islandCount")), QStringLiteral("No islands, 1 cavity"));
        shoot(QStringLiteral("36-job-viewer-cavity"));
        QVERIFY(close(QStringLiteral("jobViewer")));

        // The platform's model stands on its base: sliced, saved without a question, shown.
        QVERIFY(root()->property("hasModels").toBool());
        const QString sliced = files.filePath(QStringLiteral("platform.ssj"));
        QSignalSpy warned(controller(), &MyGLWidget::islandsFound);
        QVERIFY(QMetaObject::invokeMethod(root(), "sliceForSave", Q_ARG(QVariant, sliced)));
        QVERIFY(opens(QStringLiteral("jobViewer")));
        QCOMPARE(viewer->property("jobPath").toString(), sliced);
        QVERIFY(QFileInfo::exists(sliced));
        QCOMPARE(warned.count(), 0);
        QCOMPARE(textOf(QStringLiteral("islandCount")), QStringLiteral("No islands"));
        QVERIFY(close(QStringLiteral("jobViewer")));
        QVERIFY2(pageWarnings.isEmpty(), qPrintable(pageWarnings.join('\n')));
    }

    void disconnectedPrinter_leavesTheLists()
    {
        controller()->printerDisconnected_networked(QStringLiteral("TS100-0042"));
        QTRY_COMPARE_WITH_TIMEOUT(root()->property("printerCount").toInt(), 0, TestPatience::kWaitMs);
        QVERIFY(!item(QStringLiteral("printButton"))->isEnabled());
        QCOMPARE(textOf(QStringLiteral("printersButton")), QStringLiteral("Printers (0)"));
        QVERIFY2(pageWarnings.isEmpty(), qPrintable(pageWarnings.join('\n')));
    }

    // Models heaped together: the view says so in words at once, Arrange (the button or the
    // key A) sets them apart on the platform, and many copies are confirmed first.
    void arrange_setsHeapedModelsApart_warningsShowAtOnce()
    {
        if (root()->property("hasModels").toBool()) {
            QVERIFY(click(window(), item(QStringLiteral("clearAllButton"))));
            QVERIFY(opens(QStringLiteral("clearConfirmDialog")));
            QVERIFY(click(window(), item(QStringLiteral("clearConfirmDialogYesButton"))));
            QTRY_VERIFY_WITH_TIMEOUT(!root()->property("hasModels").toBool(), TestPatience::kWaitMs);
        }
        auto *renderer = qobject_cast<RendererQMLItem *>(editor());
        const QList<QVector3D> boxes {{40, 30, 20}, {25, 25, 35}, {50, 15, 10}, {20, 20, 20}, {30, 12, 25}};
        for (int i = 0; i < boxes.size(); ++i) {
            QVERIFY(importBox(QStringLiteral("part%1.stl").arg(i), boxes[i].x(), boxes[i].y(), boxes[i].z()));
            QTRY_COMPARE_WITH_TIMEOUT(renderer->editor().platform().models().size(), i + 1, 20000);
            renderer->setSelectedModelPosition(0, 0);
        }
        const QString warning = QStringLiteral("placementWarningText");
        QTRY_VERIFY_WITH_TIMEOUT(
            textOf(warning).contains(QStringLiteral("pairs of models overlap")), TestPatience::kWaitMs);
        QVERIFY(item(warning)->isVisible());
        shoot(QStringLiteral("40-placement-warning"));

        QVERIFY(click(window(), item(QStringLiteral("arrangeButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!item(warning)->isVisible(), TestPatience::kWaitMs);
        const QString fault = MeshTesting::placementFault(
            renderer->editor().platform().models(), 64, 40, PlatformModel::kWallMargin, PlatformModel::kPlacementGap);
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
        shoot(QStringLiteral("41-arranged"));

        // The key does the same (while no field takes the typing).
        renderer->setSelectedModelPosition(0, 0);
        QTRY_VERIFY_WITH_TIMEOUT(item(warning)->isVisible(), TestPatience::kWaitMs);
        window()->requestActivate();
        QVERIFY(QTest::qWaitForWindowActive(window()));
        window()->contentItem()->forceActiveFocus();
        QTest::keyClick(window(), Qt::Key_A);
        QTRY_VERIFY_WITH_TIMEOUT(!item(warning)->isVisible(), TestPatience::kWaitMs);

        item(QStringLiteral("duplicateCount"))->setProperty("value", 35);
        QVERIFY(click(window(), item(QStringLiteral("duplicateButton"))));
        QVERIFY(opens(QStringLiteral("copiesConfirmDialog")));
        QVERIFY(textOf(QStringLiteral("copiesConfirmDialogText")).startsWith(QStringLiteral("Make 35 copies of")));
        shoot(QStringLiteral("42-many-copies-asked"));
        QVERIFY(click(window(), item(QStringLiteral("copiesConfirmDialogNoButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!find(window(), QStringLiteral("copiesConfirmDialog"))->property("visible").toBool(),
            TestPatience::kWaitMs);
        QCOMPARE(renderer->editor().platform().models().size(), boxes.size());
        // Made after all: those without room are set beside the platform, and the view says so.
        QVERIFY(click(window(), item(QStringLiteral("duplicateButton"))));
        QVERIFY(opens(QStringLiteral("copiesConfirmDialog")));
        QVERIFY(click(window(), item(QStringLiteral("copiesConfirmDialogYesButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(
            textOf(warning).contains(QStringLiteral("of 35 copies do not fit on the platform")), TestPatience::kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(
            renderer->editor().platform().models().size(), boxes.size() + 35, TestPatience::kWaitMs);
        shoot(QStringLiteral("43-copies-without-room"));
        QVERIFY(click(window(), item(QStringLiteral("removeDuplicatesButton"))));
        QTRY_VERIFY_WITH_TIMEOUT(!textOf(warning).contains(QStringLiteral("copies")), TestPatience::kWaitMs);
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
