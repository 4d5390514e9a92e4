#include "uitesting.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace UiTesting {

namespace {

QString describe(QQuickItem *item)
{
    QString path;
    for (QQuickItem *it = item; it; it = it->parentItem()) {
        if (!it->objectName().isEmpty()) {
            path = it->objectName();
            break;
        }
    }
    return QStringLiteral("%1 in %2").arg(QString::fromLatin1(item->metaObject()->className()), path);
}

// Walks the visible items: every text into `texts`, every text not shown whole into `problems`.
void collect(QQuickItem *item, const QRectF &clipRect, bool scrolling, QStringList &problems, QStringList &texts)
{
    if (!item->isVisible() || item->opacity() <= 0.01)
        return;
    const QRectF box = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    const bool isText = item->inherits("QQuickText");
    const bool isInput = item->inherits("QQuickTextInput");
    if (isText || isInput) {
        const QString text = item->property("text").toString();
        if (!text.isEmpty())
            texts << text;
        const double contentWidth = item->property("contentWidth").toDouble();
        if (!text.trimmed().isEmpty() && item->width() > 0) {
            const QString what = QStringLiteral("\"%1\" (%2)").arg(text, describe(item));
            if (isText && item->property("truncated").toBool())
                problems << QStringLiteral("elided: ") + what;
            const bool wraps = item->property("wrapMode").toInt() != 0;
            if (!wraps && contentWidth > item->width() + 1.0)
                problems << QStringLiteral("wider than its box (%1 > %2): ").arg(contentWidth).arg(item->width())
                        + what;
            if (!scrolling) {
                QRectF shown = box;
                shown.setWidth(std::max(box.width(), wraps ? 0.0 : std::min(contentWidth, box.width())));
                if (!clipRect.adjusted(-1, -1, 1, 1).contains(shown))
                    problems << QStringLiteral("cut off at (%1, %2, %3 x %4): ")
                                    .arg(shown.x())
                                    .arg(shown.y())
                                    .arg(shown.width())
                                    .arg(shown.height())
                            + what;
            }
        }
    }
    QRectF childClip = clipRect;
    if (item->clip())
        childClip = clipRect.intersected(box);
    const bool childScrolling = scrolling || item->inherits("QQuickFlickable");
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children)
        collect(child, childClip, childScrolling, problems, texts);
}

} // namespace

// Items made by repeaters and views belong to their parent item, not to it as objects.
QQuickItem *findUnder(QQuickItem *item, const QString &name)
{
    if (!item || item->objectName() == name)
        return item;
    const QList<QQuickItem *> children = item->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findUnder(child, name))
            return found;
    }
    return nullptr;
}

QObject *find(QQuickWindow *window, const QString &name)
{
    if (QObject *found = window->contentItem()->findChild<QObject *>(name))
        return found;
    return findUnder(window->contentItem(), name);
}

QQuickItem *findItem(QQuickWindow *window, const QString &name)
{
    return qobject_cast<QQuickItem *>(find(window, name));
}

bool isUsable(QQuickItem *item)
{
    return item && item->isVisible() && item->isEnabled() && item->width() > 0 && item->height() > 0;
}

bool click(QQuickWindow *window, QQuickItem *item)
{
    if (!isUsable(item))
        return false;
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    return true;
}

QStringList clippedTexts(QQuickWindow *window)
{
    QStringList problems, texts;
    collect(window->contentItem(), QRectF(0, 0, window->width(), window->height()), false, problems, texts);
    return problems;
}

QStringList visibleTexts(QQuickWindow *window)
{
    QStringList problems, texts;
    collect(window->contentItem(), QRectF(0, 0, window->width(), window->height()), false, problems, texts);
    return texts;
}

QString screenshotDir(const QString &prefix)
{
    QString dir = qEnvironmentVariable("TESSORA_SCREENSHOT_DIR");
    if (dir.isEmpty()) {
        QTemporaryDir made(QDir::temp().filePath(prefix + QStringLiteral("-XXXXXX")));
        made.setAutoRemove(false);
        dir = made.path();
    }
    QDir().mkpath(dir);
    return dir;
}

QImage saveShot(QQuickWindow *window, const QString &dir, const QString &name)
{
    window->update();
    QTest::qWait(80);
    const QImage image = window->grabWindow();
    return image.save(QDir(dir).filePath(name + QStringLiteral(".png"))) ? image : QImage();
}

} // namespace UiTesting
