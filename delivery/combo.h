#ifndef COMBO_H
#define COMBO_H

#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "delivery/systemdetails.h"

// The vehicle chooser.  Turns the vehicles and systems resources into the
// model list, the year list of a model and the chosen vehicle's in-car system
// profile, and remembers the choice in the settings.  The model lists and the
// profile are shared by every Combo; all of it runs in the GUI thread, and a
// job copies the profile instead of reading it while it runs.
class Combo : public QObject
{
    Q_OBJECT

public:
    // A plain object without links, e.g. to reach the shared profile.
    Combo();
    // Links the QML root object's vehicle signals and functions to this object.
    explicit Combo(QObject *root);

    // The one profile of the run; never null, not owned by the caller.
    SystemDetails *getsystemDetail();
    QStringList getModelList();
    // Reads the vehicles resource: "Select" followed by the models.
    QStringList fillModelCombo();
    // "Select" followed by the model years of `model`.
    QStringList fillYearCombo(QString model);
    // Loads the system of the vehicle model into the shared profile.
    void readSystemDetails(QString vehicleName);
    // Restores the saved vehicle choice and tells QML its position.
    void runForGetSettaing();

    // The web link of the vehicle whose year list was built last.
    static QString carLink();

    // The object whose showDrivesData(QVariant) signal feeds the QML drive
    // list (the transfer dialog's Drive).  Set it before constructing a
    // Combo with a root; without one that link is left out.
    static void setDriveListSender(QObject *sender);

    // The two resources; tests point them at files of their own.
    static void setResourcePaths(const QString &vehicles, const QString &systems);
    static QString defaultVehiclesPath();
    static QString defaultSystemsPath();

public slots:
    void getData(QString modelName);
    void slCheckMediaLibrary(QString vehicle_name, QString model_year, int size);
    void slSaveSettingModelIndex(int index, QString selectedModel, QString modelYearValue, int yearIndex);

signals:
    void data(QVariant txt);
    void sgShowStartPage(QVariant modelName);
    void sgShowMediaLibrary(QVariant modelName);
    void getSettings(QVariant ModelComboIndex);

private:
    bool openResource(const QString &path);

    QFile file;
};

#endif // COMBO_H
