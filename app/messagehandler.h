#ifndef MESSAGEHANDLER_H
#define MESSAGEHANDLER_H

#include <QList>
#include <QObject>
#include <QPair>
#include <QString>

class QQmlContext;

// The one table of user-visible English texts.
//
// Eight numbered messages go to the QML message box (message(1) ... message(8));
// a handler made without a context carries them.  The 45 keyed texts are the
// QML labels: GetAllmsg() publishes them once, at start-up, as string context
// properties of the root context given to the constructor.  The texts are
// exact, spacing included: QML joins some of them with other words.
class MessageHandler : public QObject
{
    Q_OBJECT

public:
    using KeyedText = QPair<QString, QString>;

    // Publishes the keyed texts into rootContext (not owned); carries no
    // numbered messages.
    MessageHandler(QQmlContext *rootContext, QObject *parent);
    // Carries the numbered messages; publishes nothing.
    MessageHandler();
    ~MessageHandler() override;

    // Numbered message 1 to 8; empty for any other number or when this
    // handler was made to publish the keyed texts.
    QString message(int number) const;

    // Publishes every keyed text, section by section.
    void GetAllmsg();

    void MediaLibrary();
    void MediaBrowser();
    void VideoTranscoding();
    void AdvanceSetting();
    void TransferandSync();
    void Miscellaneous();

    // The keyed texts of each section in publishing order, and all of them.
    static QList<KeyedText> mediaLibraryTexts();
    static QList<KeyedText> mediaBrowserTexts();
    static QList<KeyedText> videoTranscodingTexts();
    static QList<KeyedText> advanceSettingTexts();
    static QList<KeyedText> transferandSyncTexts();
    static QList<KeyedText> miscellaneousTexts();
    static QList<KeyedText> allKeyedTexts();
    // The keyed text of `key`; empty for an unknown key.
    static QString keyedText(const QString &key);

private:
    void publish(const QList<KeyedText> &texts);

    QString msg1;
    QString msg2;
    QString msg3;
    QString msg4;
    QString msg5;
    QString msg6;
    QString msg7;
    QString msg8;
    QQmlContext *context = nullptr;
};

#endif // MESSAGEHANDLER_H
