#pragma once

#include <QImage>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QStringList>

// Helpers of the page tests: finding controls by objectName, clicking them as a user
// does, and looking at what the window shows.
namespace UiTesting {

// The object of that name anywhere in the window (pages, open popups, closed popups).
QObject *find(QQuickWindow *window, const QString &name);
// The item of that name among the visual descendants of `parent`, itself included.
QQuickItem *findUnder(QQuickItem *parent, const QString &name);
QQuickItem *findItem(QQuickWindow *window, const QString &name);

// True when the item and all its parents are visible and it is enabled.
bool isUsable(QQuickItem *item);

// A left click in the middle of the item; false when the item is not usable.
bool click(QQuickWindow *window, QQuickItem *item);

// Texts that do not show whole in the window as it is now: elided or overflowing labels and
// buttons, fields whose text is wider than the field, and texts cut off by the window or by
// a clipping parent. Items inside scrolling views are only checked for truncation.
QStringList clippedTexts(QQuickWindow *window);

// Every visible text of the window, for finding units and messages.
QStringList visibleTexts(QQuickWindow *window);

// Where screenshots go: TESSORA_SCREENSHOT_DIR, else a new folder `prefix`-XXXXXX in the
// temp dir; made if missing.
QString screenshotDir(const QString &prefix);

// The window as drawn after two more frames, saved as DIR/NAME.png; the image, null when it
// could not be written.
QImage saveShot(QQuickWindow *window, const QString &dir, const QString &name);

} // namespace UiTesting
