#ifndef WINDOWDRIVER_H
#define WINDOWDRIVER_H

#include <QString>

class QQuickItem;
class QQuickWindow;

// Finding and clicking the window's items by their object names, as the
// tests that walk the window through its buttons do.
namespace testkit {

// The item named `name` at or below `root`, or null.
QQuickItem *findItem(QQuickItem *root, const QString &name);
// Clicks the middle of the window's item named `name` once it shows; false
// (with a warning) when it never does.
bool clickItem(QQuickWindow &window, const QString &name);

} // namespace testkit

#endif // WINDOWDRIVER_H
