#ifndef ROWPUBLISHER_H
#define ROWPUBLISHER_H

#include <QCoreApplication>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>
#include <utility>

// The one place rows reach QML outside the library views.  Rows are built
// in the GUI thread as children of one owner per generation; publishing a
// new generation under a name keeps the one before it alive until the next
// publication of that name, so a delegate still bound to an old row never
// reads freed memory; the one it drops is freed when the event loop next runs.
class RowPublisher
{
public:
    using SetProperty = std::function<void(const QString &name, const QVariant &value)>;

    explicit RowPublisher(SetProperty setProperty) : setContextProperty(std::move(setProperty)) {}

    // Publishes `rows` (a QVariant of QList<QObject *> or similar) under
    // `name`; `owner` is the parent of every row in it.
    void publish(const QString &name, const QVariant &rows, std::shared_ptr<QObject> owner)
    {
        Generations &held = generations[name];
        std::shared_ptr<QObject> dropped = std::exchange(held.previous, std::move(held.current));
        held.current = std::move(owner);
        if (setContextProperty)
            setContextProperty(name, rows);
        // Freed once the new rows are on screen, in a step of its own: a
        // search's rows are tens of thousands of objects.
        if (dropped && dropped.use_count() == 1 && QCoreApplication::instance())
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [generation = std::move(dropped)] {}, Qt::QueuedConnection);
    }

    // The owner of what is shown under `name` now (nullptr when nothing).
    QObject *current(const QString &name) const
    {
        const auto it = generations.constFind(name);
        return it == generations.constEnd() ? nullptr : it->current.get();
    }

private:
    struct Generations
    {
        std::shared_ptr<QObject> current;
        std::shared_ptr<QObject> previous;
    };
    SetProperty setContextProperty;
    QHash<QString, Generations> generations;
};

#endif // ROWPUBLISHER_H
