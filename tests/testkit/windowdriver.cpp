#include "windowdriver.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

namespace testkit {

QQuickItem *findItem(QQuickItem *root, const QString &name)
{
    if (root->objectName() == name)
        return root;
    const QList<QQuickItem *> children = root->childItems();
    for (QQuickItem *child : children) {
        if (QQuickItem *found = findItem(child, name))
            return found;
    }
    return nullptr;
}

bool clickItem(QQuickWindow &window, const QString &name)
{
    QQuickItem *target = nullptr;
    if (!QTest::qWaitFor([&] { return (target = findItem(window.contentItem(), name)) && target->isVisible(); },
                         30000)) {
        qWarning("%s is missing or hidden", qPrintable(name));
        return false;
    }
    window.grabWindow(); // a frame first: polish settles the layouts the click lands in
    const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, centre.toPoint());
    return true;
}

} // namespace testkit
