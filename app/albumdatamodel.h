#ifndef ALBUMDATAMODEL_H
#define ALBUMDATAMODEL_H

#include <QList>
#include <QObject>
#include <QString>

// One album thumbnail of an album, audiobook or video view (for a video row
// the id is the track id and the name the file name).  Read and written by
// QML through its properties; every setter emits only on a change.
class AlbumDataModel : public QObject
{
    Q_OBJECT
    Q_PROPERTY(int albumid READ albumid WRITE setAlbumId NOTIFY albumidChanged)
    Q_PROPERTY(QString albumname READ albumname WRITE setAlbumName NOTIFY albumnameChanged)
    Q_PROPERTY(QString artistname READ artistname WRITE setArtistName NOTIFY artistnameChanged)
    Q_PROPERTY(int quality READ quality WRITE setQuality NOTIFY qualityChanged)
    Q_PROPERTY(bool selected READ selected WRITE setSelected NOTIFY selectedChanged)
    Q_PROPERTY(bool visibility READ visibility WRITE setVisibility NOTIFY visibilityChanged)
    Q_PROPERTY(QString coverart READ coverart WRITE setCoverArt NOTIFY coverartChanged)

public:
    explicit AlbumDataModel(QObject *parent = nullptr);
    AlbumDataModel(const int &albumid, const QString &albumname, const QString &artistname, const int &quality,
        const bool &selected, const bool &visibility, const QString &coverart, QObject *parent = nullptr);

    int albumid() const;
    QString albumname() const;
    QString artistname() const;
    int quality() const;
    bool selected() const;
    bool visibility() const;
    QString coverart() const;

    void setAlbumId(const int &albumid);
    void setAlbumName(const QString &albumname);
    void setArtistName(const QString &artistname);
    void setQuality(const int &quality);
    void setSelected(const bool &selected);
    void setVisibility(const bool &visibility);
    void setCoverArt(const QString &coverart);

signals:
    void albumidChanged();
    void albumnameChanged();
    void artistnameChanged();
    void qualityChanged();
    void selectedChanged();
    void visibilityChanged();
    void coverartChanged();

private:
    int m_albumid = 0;
    QString m_albumname;
    QString m_artistname;
    int m_quality = 0;
    bool m_selected = false;
    bool m_visibility = true;
    QString m_coverart;
};

#endif // ALBUMDATAMODEL_H
