#include "qmlapplicationviewer.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QQmlEngine>
#include <QUrl>

// The viewer's private record: the main QML file last set, as an absolute path.
class QmlApplicationViewerPrivate
{
public:
    QString mainQmlFile;
    QmlApplicationViewer::ScreenOrientation orientation = QmlApplicationViewer::ScreenOrientationAuto;

    // A relative path names a file below the Resources folder beside the
    // executable's folder; an absolute path is taken as it is.
    static QString adjustPath(const QString &path);
};

QString QmlApplicationViewerPrivate::adjustPath(const QString &path)
{
    if (QDir::isAbsolutePath(path))
        return path;
    return QStringLiteral("%1/../Resources/%2").arg(QCoreApplication::applicationDirPath(), path);
}

QmlApplicationViewer::QmlApplicationViewer(QWindow *parent)
    : QQuickView(parent), d(new QmlApplicationViewerPrivate)
{
    connect(engine(), &QQmlEngine::quit, this, &QWindow::close);
    setResizeMode(QQuickView::SizeRootObjectToView);
}

QmlApplicationViewer::~QmlApplicationViewer()
{
    delete d;
}

QmlApplicationViewer *QmlApplicationViewer::create()
{
    return new QmlApplicationViewer();
}

void QmlApplicationViewer::setMainQmlFile(const QString &file)
{
    d->mainQmlFile = QmlApplicationViewerPrivate::adjustPath(file);
    setSource(QUrl::fromLocalFile(d->mainQmlFile));
}

void QmlApplicationViewer::addImportPath(const QString &path)
{
    engine()->addImportPath(QmlApplicationViewerPrivate::adjustPath(path));
}

void QmlApplicationViewer::setOrientation(ScreenOrientation orientation)
{
    switch (orientation) {
    case ScreenOrientationLockPortrait:
    case ScreenOrientationLockLandscape:
        d->orientation = orientation;
        break;
    default:
        d->orientation = ScreenOrientationAuto;
        break;
    }
}

QmlApplicationViewer::ScreenOrientation QmlApplicationViewer::orientation() const
{
    return d->orientation;
}

void QmlApplicationViewer::showExpanded()
{
    show();
}

QApplication *createApplication(int &argc, char **argv)
{
    return new QApplication(argc, argv);
}
