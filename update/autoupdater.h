#ifndef AUTOUPDATER_H
#define AUTOUPDATER_H

// An update checker.  checkForUpdates() returns at once; whatever a check
// finds is dealt with in the background.
class AutoUpdater
{
public:
    virtual ~AutoUpdater() = default;
    virtual void checkForUpdates() = 0;
};

#endif // AUTOUPDATER_H
