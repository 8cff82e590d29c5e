#include "app/messagehandler.h"

#include <QQmlContext>

MessageHandler::MessageHandler(QQmlContext *rootContext, QObject *parent)
    : QObject(parent)
    , context(rootContext)
{
}

MessageHandler::MessageHandler()
    : msg1(QStringLiteral("Drive is Full"))
    , msg2(QStringLiteral("The selected video file is encoded with a multichannel audio. Multichannel audio is not "
                          "supported by this program. The file has not been transferred."))
    , msg3(QStringLiteral(
          "One or more of the video files added contained incomplete or invalid data and will not be copied."))
    , msg4(QStringLiteral("Please select at least one item to add in Media Library."))
    , msg5(QStringLiteral("Please select at least one item to remove."))
    , msg6(QStringLiteral("Please select at least one item to transfer."))
    , msg7(QStringLiteral("Disk is Removed"))
    , msg8(QStringLiteral("No destination drive selected."))
{
}

MessageHandler::~MessageHandler() = default;

QString MessageHandler::message(int number) const
{
    switch (number) {
    case 1:
        return msg1;
    case 2:
        return msg2;
    case 3:
        return msg3;
    case 4:
        return msg4;
    case 5:
        return msg5;
    case 6:
        return msg6;
    case 7:
        return msg7;
    case 8:
        return msg8;
    default:
        return QString();
    }
}

void MessageHandler::GetAllmsg()
{
    MediaLibrary();
    MediaBrowser();
    VideoTranscoding();
    AdvanceSetting();
    TransferandSync();
    Miscellaneous();
}

void MessageHandler::MediaLibrary()
{
    publish(mediaLibraryTexts());
}

void MessageHandler::MediaBrowser()
{
    publish(mediaBrowserTexts());
}

void MessageHandler::VideoTranscoding()
{
    publish(videoTranscodingTexts());
}

void MessageHandler::AdvanceSetting()
{
    publish(advanceSettingTexts());
}

void MessageHandler::TransferandSync()
{
    publish(transferandSyncTexts());
}

void MessageHandler::Miscellaneous()
{
    publish(miscellaneousTexts());
}

void MessageHandler::publish(const QList<KeyedText> &texts)
{
    if (!context)
        return;
    for (const KeyedText &text : texts)
        context->setContextProperty(text.first, text.second);
}

// Doubled, leading and trailing spaces below are part of the texts: QML
// places some of them next to other words.

QList<MessageHandler::KeyedText> MessageHandler::mediaLibraryTexts()
{
    return {
        {QStringLiteral("MediaLibrary_txtSelectVehicledefault"), QStringLiteral("Please select your vehicle")},
        {QStringLiteral("MediaLibrary_txtSelectVehicle"),
         QStringLiteral("There are currently no files in your Media Library...")},
        {QStringLiteral("MediaLibrary_txtProductName"), QStringLiteral("CORVANE MEDIA ORGANISER")},
        {QStringLiteral("MediaLibrary_txtwelcome"), QStringLiteral("Welcome")},
        {QStringLiteral("MediaLibrary_txtwelcometxtModel"), QStringLiteral("MODEL")},
        {QStringLiteral("MediaLibrary_txtwelcometxtYear"), QStringLiteral("YEAR")},
        {QStringLiteral("MediaLibrary_txtwelcometext4"),
         QStringLiteral("This application will help you select and optimise music and media files to transfer to "
                        "your vehicle.")},
        {QStringLiteral("MediaLibrary_txtwelcometext5"),
         QStringLiteral("Files can be transferred using your portable media such as a USB stick or SD Card.")},
        {QStringLiteral("MediaLibrary_feedbackLink"),
         QStringLiteral("Loaded my favourite albums for the drive to the coast. "
                        "<font color=\"#c8102e\">#MyCorvane</font>")},
        {QStringLiteral("MediaLibrary_texttransferProgress"), QStringLiteral("transferring files to destination drive")},
        {QStringLiteral("MediaLibrary_texttransferProgressCancel"), QStringLiteral("Cancelling Process...")},
        {QStringLiteral("MediaLibrary_textoptimisingProgress"), QStringLiteral("optimising files for  your corvane")},
        {QStringLiteral("MediaLibrary_MessageText1"), QStringLiteral("There  are currently no files in your ")},
        {QStringLiteral("MediaLibrary_MessageText2"),
         QStringLiteral(" Library.<br /> Click ADD MEDIA to open Media Browser.")},
    };
}

QList<MessageHandler::KeyedText> MessageHandler::mediaBrowserTexts()
{
    return {
        {QStringLiteral("MediaBrowser_txtTitle"), QStringLiteral("Media Browser")},
        {QStringLiteral("MediaBrowser_txtLocation"), QStringLiteral("LOCATION")},
        {QStringLiteral("MediaBrowser_txtView"), QStringLiteral("VIEW")},
        {QStringLiteral("MediaBrowser_txtDisplay"), QStringLiteral("DISPLAY")},
    };
}

QList<MessageHandler::KeyedText> MessageHandler::videoTranscodingTexts()
{
    return {
        {QStringLiteral("VideoTranscoding_txtTitle"), QStringLiteral("video optimising")},
        {QStringLiteral("VideoTranscoding_txtAdded1"),
         QStringLiteral("You have chosen to add video titles to your Corvane Media library. Media Organiser will now "
                        "optimise these files for viewing in your car.")},
        {QStringLiteral("VideoTranscoding_txtAdded2"),
         QStringLiteral("Please note that this process can take some time. You can leave media organiser running and "
                        "it will optimise the files in the background. Click on the progress bar for details at any "
                        "time. As soon as files are optimised they will appear in your library. You do not need to "
                        "wait for all files to complete.")},
        {QStringLiteral("VideoTranscoding_videoOptimisationTimeString1"), QStringLiteral("1 Seconds")},
        {QStringLiteral("VideoTranscoding_videoOptimisationTimeString2"), QStringLiteral("Optimisation is finished")},
        {QStringLiteral("VideoTranscoding_videoOptimisationTimeString3"), QStringLiteral("Total for all current jobs: ")},
        {QStringLiteral("VideoTranscoding_progressNotification"), QStringLiteral("CURRENTLY OPTIMISING")},
    };
}

QList<MessageHandler::KeyedText> MessageHandler::advanceSettingTexts()
{
    return {
        {QStringLiteral("AdvanceSetting_progressNotification"), QStringLiteral("CURRENTLY OPTIMISING")},
        {QStringLiteral("AdvanceSetting_textOfMediaQuality"),
         QStringLiteral("The  following files are of a lower quality than we would recommend for optimum in-car  "
                        "audio experience select and download higher quality versions")},
        {QStringLiteral("AdvanceSetting_textOfMediaData"),
         QStringLiteral("The following files are missing data such as artist, album, or album art we can download "
                        "missing information for those selected...")},
        {QStringLiteral("AdvanceSetting_txtTitle"), QStringLiteral("Advanced Settings")},
    };
}

QList<MessageHandler::KeyedText> MessageHandler::transferandSyncTexts()
{
    return {
        {QStringLiteral("TransferandSync_txtHeaderSYNC"), QStringLiteral("TRANSFER AND SYNC SETTINGS")},
        {QStringLiteral("TransferandSync_txtSelectDrive"), QStringLiteral("Please select drive to transfer files to")},
        {QStringLiteral("TransferandSync_txtTotal"), QStringLiteral("TOTAL")},
        {QStringLiteral("TransferandSync_txtUsed"), QStringLiteral("USED")},
        {QStringLiteral("TransferandSync_txtFree"), QStringLiteral("FREE")},
        {QStringLiteral("TransferandSync_formatdrive"), QStringLiteral("Format drive first")},
        {QStringLiteral("TransferandSync_txtSyncing"), QStringLiteral("Synching")},
        {QStringLiteral("TransferandSync_overwriteall"), QStringLiteral("Overwrite all duplicates")},
        {QStringLiteral("TransferandSync_overwritenew"), QStringLiteral("Overwrite only with newer")},
        {QStringLiteral("TransferandSync_overwritehq"),
         QStringLiteral("Overwrite only with higher quality/contain more data")},
    };
}

QList<MessageHandler::KeyedText> MessageHandler::miscellaneousTexts()
{
    return {
        {QStringLiteral("protectedSongsView_dialogtitle"),
         QStringLiteral("Some content found is in protected format and can not be transferred.")},
        {QStringLiteral("protectedSongsView_txtHeader"), QStringLiteral("Protected media")},
        {QStringLiteral("miniBox_txtViewStatus"), QStringLiteral("view status")},
        {QStringLiteral("detailedView_txtVideoView"), QStringLiteral("Unknown")},
        {QStringLiteral("trnsfrtext1"), QStringLiteral("All files have been successfully transferred to ")},
        {QStringLiteral("trnsfrtext2"), QStringLiteral(" Media.")},
    };
}

QList<MessageHandler::KeyedText> MessageHandler::allKeyedTexts()
{
    return mediaLibraryTexts() + mediaBrowserTexts() + videoTranscodingTexts() + advanceSettingTexts()
        + transferandSyncTexts() + miscellaneousTexts();
}

QString MessageHandler::keyedText(const QString &key)
{
    for (const KeyedText &text : allKeyedTexts()) {
        if (text.first == key)
            return text.second;
    }
    return QString();
}
