#include "delivery/combo.h"

#include <QPointer>
#include <QSettings>
#include <QXmlStreamReader>

#include "database/ruvodb.h"

namespace {

// State shared by every Combo.  Function-local so nothing is built before
// the application object exists.
struct VehicleState
{
    QStringList drivedataList;  // "Select", then the vehicle models in resource order
    QStringList modeldataList;  // the system of drivedataList[k] is modeldataList[k - 1]
    QString carLink;
    SystemDetails systemDetails;
    QPointer<QObject> driveListSender;
    QString vehiclesPath = Combo::defaultVehiclesPath();
    QString systemsPath = Combo::defaultSystemsPath();
};

VehicleState &state()
{
    static VehicleState s;
    return s;
}

const QString selectText = QStringLiteral("Select");
const QString settingsGroup = QStringLiteral("MainWindows");

QString text(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(name)).toString();
}

// Absent or non-numeric attributes read as 0.
qint32 signedNumber(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(name)).toInt();
}

quint32 unsignedNumber(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(name)).toUInt();
}

bool isTrue(const QXmlStreamAttributes &attributes, const char *name)
{
    return attributes.value(QLatin1String(name)) == QLatin1String("true");
}

QString firstAttribute(const QXmlStreamAttributes &attributes)
{
    return attributes.isEmpty() ? QString() : attributes.first().value().toString();
}

} // namespace

Combo::Combo()
    : QObject(nullptr)
{
}

Combo::Combo(QObject *root)
    : QObject(nullptr)
{
    // The QML side is reached by signature: its signals and functions exist
    // only at run time.
    connect(root, SIGNAL(fillYearCombo(QString)), this, SLOT(getData(QString)));
    connect(this, SIGNAL(data(QVariant)), root, SLOT(updateYearCombo(QVariant)));
    connect(root, SIGNAL(sgCheckMediaLibrary(QString,QString,int)), this,
            SLOT(slCheckMediaLibrary(QString,QString,int)));
    connect(this, SIGNAL(sgShowStartPage(QVariant)), root, SLOT(showStartPage(QVariant)));
    connect(this, SIGNAL(sgShowMediaLibrary(QVariant)), root, SLOT(showViewPanel(QVariant)));
    if (QObject *drives = state().driveListSender.data())
        connect(drives, SIGNAL(showDrivesData(QVariant)), root, SLOT(updateDrivesData(QVariant)));
    connect(root, SIGNAL(sgSaveSettingModelIndex(int,QString,QString,int)), this,
            SLOT(slSaveSettingModelIndex(int,QString,QString,int)));
    connect(this, SIGNAL(getSettings(QVariant)), root, SLOT(setIndexForModelCombo(QVariant)));
}

SystemDetails *Combo::getsystemDetail()
{
    return &state().systemDetails;
}

QStringList Combo::getModelList()
{
    return state().drivedataList;
}

QString Combo::carLink()
{
    return state().carLink;
}

void Combo::setDriveListSender(QObject *sender)
{
    state().driveListSender = sender;
}

void Combo::setResourcePaths(const QString &vehicles, const QString &systems)
{
    state().vehiclesPath = vehicles;
    state().systemsPath = systems;
}

QString Combo::defaultVehiclesPath()
{
    return QStringLiteral(":/resources/xml/vehicles.xml");
}

QString Combo::defaultSystemsPath()
{
    return QStringLiteral(":/resources/xml/systems.xml");
}

bool Combo::openResource(const QString &path)
{
    file.close();
    file.setFileName(path);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        return true;
    qDebug("Load XML File Problem.");
    return false;
}

QStringList Combo::fillModelCombo()
{
    // Built afresh on every call, so a second call gives the same list.
    VehicleState &s = state();
    s.drivedataList = QStringList{selectText};
    s.modeldataList.clear();
    if (openResource(s.vehiclesPath)) {
        QXmlStreamReader reader(&file);
        while (!reader.atEnd() && !reader.hasError()) {
            if (reader.readNext() != QXmlStreamReader::StartElement)
                continue;
            // An element without attributes still adds an entry, which keeps
            // the two lists paired.
            if (reader.name() == QLatin1String("Vehicle"))
                s.drivedataList.append(firstAttribute(reader.attributes()));
            else if (reader.name() == QLatin1String("System"))
                s.modeldataList.append(firstAttribute(reader.attributes()));
        }
        file.close();
    }
    return s.drivedataList;
}

QStringList Combo::fillYearCombo(QString model)
{
    QStringList years{selectText};
    if (!openResource(state().vehiclesPath))
        return years;
    QXmlStreamReader reader(&file);
    bool inVehicle = false;
    while (!reader.atEnd() && !reader.hasError()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement && reader.name() == QLatin1String("Vehicle")) {
            inVehicle = false;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.name() == QLatin1String("Vehicle")) {
            inVehicle = attributes.hasAttribute(QLatin1String("model"))
                        && text(attributes, "model") == model;
        } else if (inVehicle && reader.name() == QLatin1String("Range")) {
            QString year = text(attributes, "from");
            const int first = signedNumber(attributes, "from");
            const int last = signedNumber(attributes, "to");
            for (int y = first; y <= last; ++y) {
                if (!years.contains(year))
                    years.append(year);
                year = QString::number(year.toInt() + 1);
            }
        } else if (inVehicle && reader.name() == QLatin1String("Url")) {
            state().carLink = text(attributes, "link");
        }
    }
    file.close();
    return years;
}

void Combo::getData(QString modelName)
{
    emit data(QVariant(fillYearCombo(modelName)));
}

void Combo::readSystemDetails(QString vehicleName)
{
    VehicleState &s = state();
    const qsizetype position = s.drivedataList.indexOf(vehicleName);
    if (position <= 0 || position - 1 >= s.modeldataList.size())
        return;
    const QString systemName = s.modeldataList.at(position - 1);

    // Start from an empty profile: another vehicle's lists must not survive.
    SystemDetails &profile = s.systemDetails;
    profile = SystemDetails();
    if (!openResource(s.systemsPath))
        return;

    QXmlStreamReader reader(&file);
    bool inSystem = false;
    bool videoSeen = false;
    while (!reader.atEnd() && !reader.hasError()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QStringView element = reader.name();
        const QXmlStreamAttributes a = reader.attributes();
        if (element == QLatin1String("System")) {
            inSystem = text(a, "name") == systemName;
            if (inSystem) {
                profile.name = systemName;
                profile.vehicleName = vehicleName;
            }
            continue;
        }
        if (!inSystem)
            continue;
        if (element == QLatin1String("AlbumArt")) {
            profile.albumArtSupported = isTrue(a, "supported");
            profile.sizeX = signedNumber(a, "sizeX");
            profile.sizeY = signedNumber(a, "sizeY");
            profile.format = text(a, "format");
            profile.extension = text(a, "extension");
        } else if (element == QLatin1String("Format")) {
            profile.albumArtFormats.append({text(a, "name"), text(a, "extension"), QString()});
        } else if (element == QLatin1String("Audio")) {
            profile.codec = text(a, "codec");
            profile.audioExtension = text(a, "extension");
            profile.bitrate = unsignedNumber(a, "bitrate");
            profile.maxBitrate = signedNumber(a, "maxBitrate");
            profile.samplingFrequency = signedNumber(a, "samplingFrequency");
            profile.maxSamplingFrequency = signedNumber(a, "maxSamplingFrequency");
        } else if (element == QLatin1String("Codec") && !videoSeen) {
            profile.audioCodecs.append({text(a, "name"), text(a, "extension"), text(a, "description")});
        } else if (element == QLatin1String("Video")) {
            profile.videoSupported = isTrue(a, "supported");
            videoSeen = true;
        } else if (element == QLatin1String("Codec")) {
            if (!profile.videoSupported)
                continue;
            VideoCodecDetails codec;
            codec.width = unsignedNumber(a, "width");
            codec.height = unsignedNumber(a, "height");
            codec.level = unsignedNumber(a, "level");
            codec.name = text(a, "name");
            codec.extension = text(a, "extension");
            codec.description = text(a, "description");
            codec.profile = text(a, "profile");
            codec.acodec = text(a, "acodec");
            codec.bitrate = unsignedNumber(a, "bitrate");
            codec.maxBitrate = unsignedNumber(a, "maxBitrate");
            codec.samplingFrequency = unsignedNumber(a, "samplingFrequency");
            codec.maxSamplingFrequency = unsignedNumber(a, "maxSamplingFrequency");
            profile.videoCodecs.append(codec);
        } else if (element == QLatin1String("FilingSystems")) {
            profile.filingSystem = text(a, "filingSystem");
        } else if (element == QLatin1String("FilingSystem")) {
            DetailsFilingSystem fs;
            fs.maxFilesPerFolder = unsignedNumber(a, "maxFilesPerFolder");
            fs.maxPartitionSize = unsignedNumber(a, "maxPartitionSize");
            fs.maxPartitions = unsignedNumber(a, "maxPartitions");
            fs.maxFileSize = unsignedNumber(a, "maxFileSize");
            fs.maxFiles = signedNumber(a, "maxFiles");
            fs.name = text(a, "name");
            profile.filingSystems.append(fs);
        } else if (element == QLatin1String("Playlists")) {
            profile.playlistsSupported = isTrue(a, "supported");
        } else if (element == QLatin1String("Playlist")) {
            if (profile.playlistsSupported)
                profile.playlists.append({text(a, "name"), text(a, "extension"), QString()});
        }
    }
    if (reader.hasError())
        qDebug() << "Systems resource unreadable:" << reader.errorString();
    file.close();
}

void Combo::slCheckMediaLibrary(QString vehicle_name, QString model_year, int size)
{
    Q_UNUSED(model_year)
    const bool libraryExists = ruvoDB::isDB();
    readSystemDetails(vehicle_name);
    if (size >= 1 || libraryExists)
        emit sgShowMediaLibrary(QVariant(vehicle_name));
    else
        emit sgShowStartPage(QVariant(vehicle_name));
}

void Combo::slSaveSettingModelIndex(int index, QString selectedModel, QString modelYearValue, int yearIndex)
{
    if (selectedModel == selectText)
        return;
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    settings.beginGroup(settingsGroup);
    settings.setValue(QStringLiteral("Model"), index);
    settings.setValue(QStringLiteral("ModelName"), selectedModel);
    settings.setValue(QStringLiteral("ModelYearValue"), modelYearValue);
    settings.setValue(QStringLiteral("ModelYearIndex"), yearIndex);
    settings.endGroup();
}

void Combo::runForGetSettaing()
{
    QSettings settings(QStringLiteral("MyComp"), QStringLiteral("MyApp"));
    settings.beginGroup(settingsGroup);
    qint16 position = qint16(settings.value(QStringLiteral("Model"), 0).toInt());
    QString name = settings.value(QStringLiteral("ModelName")).toString();
    settings.endGroup();
    if (name.isEmpty()) {
        name = selectText;
        position = 0;
    }
    if (name != selectText)
        readSystemDetails(name);
    emit getSettings(QVariant(int(position)));
}
