#ifndef QMLAPPLICATIONVIEWER_H
#define QMLAPPLICATIONVIEWER_H

#include <QQuickView>

class QApplication;
class QmlApplicationViewerPrivate;

// The window that hosts the QML user interface.  Main QML files and import
// paths given relative are looked up in the Resources folder that lies beside
// the executable's folder ("<bin>/../Resources/..."), so the build tree and an
// installed copy find their QML the same way.  The root item follows the
// window's size, and the QML engine's quit() closes the window.
class QmlApplicationViewer : public QQuickView
{
    Q_OBJECT

public:
    enum ScreenOrientation {
        ScreenOrientationLockPortrait,
        ScreenOrientationLockLandscape,
        ScreenOrientationAuto
    };

    explicit QmlApplicationViewer(QWindow *parent = nullptr);
    ~QmlApplicationViewer() override;

    static QmlApplicationViewer *create();

    // Remembers the adjusted path of `file` and loads it as the view's source.
    void setMainQmlFile(const QString &file);
    void addImportPath(const QString &path);

    // Kept for the handheld platforms the interface was made for.  A desktop
    // window has no orientation lock: the choice is stored and has no effect.
    // Any value other than the two locks means automatic.
    void setOrientation(ScreenOrientation orientation);
    ScreenOrientation orientation() const;

    void showExpanded();

private:
    QmlApplicationViewerPrivate *d;
};

// The application object the viewer runs in (a widget application, so
// dialogs built with widgets can open beside the QML window).
QApplication *createApplication(int &argc, char **argv);

#endif // QMLAPPLICATIONVIEWER_H
