#ifndef ARTISTDATAMODEL_H
#define ARTISTDATAMODEL_H

#include <QObject>
#include <QString>
#include <QStringList>

// One artist of an artist view, read and written by QML through its
// properties.  Every setter emits its notify signal only when the value
// changes.  Numbers are full ints: ids are 32-bit and counts must not wrap.
class ArtistDataModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int artistid READ artistid WRITE setArtistId NOTIFY artistidChanged)
    Q_PROPERTY(int albumcount READ albumcount WRITE setAlbumCount NOTIFY albumcountChanged)
    Q_PROPERTY(int trackcount READ trackcount WRITE setTrackCount NOTIFY trackcountChanged)
    Q_PROPERTY(QString artistname READ artistname WRITE setArtistName NOTIFY artistnameChanged)
    Q_PROPERTY(int quality READ quality WRITE setQuality NOTIFY qualityChanged)
    Q_PROPERTY(bool selected READ selected WRITE setSelected NOTIFY selectedChanged)
    Q_PROPERTY(bool visibility READ visibility WRITE setVisibility NOTIFY visibilityChanged)
    Q_PROPERTY(QStringList coverart READ coverart WRITE setCoverArt NOTIFY coverartChanged)

public:
    explicit ArtistDataModel(QObject *parent = nullptr);
    ArtistDataModel(const int &artistid, const int &albumcount, const int &trackcount, const QString &artistname,
        const int &quality, const bool &selected, const bool &visibility, const QStringList &coverart,
        QObject *parent = nullptr);

    int artistid() const;
    int albumcount() const;
    int trackcount() const;
    QString artistname() const;
    int quality() const;
    bool selected() const;
    bool visibility() const;
    QStringList coverart() const;

    void setArtistId(const int &artistid);
    void setAlbumCount(const int &albumcount);
    void setTrackCount(const int &trackcount);
    void setArtistName(const QString &artistname);
    void setQuality(const int &quality);
    void setSelected(const bool &selected);
    void setVisibility(const bool &visibility);
    // Adds rather than replaces: the given list is appended when its first
    // entry is not stored yet.  An empty list changes nothing.
    void setCoverArt(const QStringList &coverart);

signals:
    void artistidChanged();
    void artistnameChanged();
    void albumcountChanged();
    void trackcountChanged();
    void qualityChanged();
    void selectedChanged();
    void visibilityChanged();
    void coverartChanged();

private:
    int m_artistid = 0;
    int m_albumcount = 0;
    int m_trackcount = 0;
    QString m_artistname;
    int m_quality = 0;
    bool m_selected = false;
    bool m_visibility = true;
    QStringList m_coverart;
};

#endif // ARTISTDATAMODEL_H
