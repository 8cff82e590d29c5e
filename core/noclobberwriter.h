#ifndef NOCLOBBERWRITER_H
#define NOCLOBBERWRITER_H

#include <QByteArray>
#include <QString>

// Creates a file that must not already exist, safely: the bytes go to a
// temporary file in the target's folder, which is renamed to the target only
// when complete.  An existing target is never replaced, a failed write leaves
// no partial target behind, and no folder is created.
class NoClobberWriter
{
public:
    // Writes data as a new file at target.  False when the target exists, its
    // folder is missing or any step fails.
    static bool writeNew(const QString &target, const QByteArray &data);

    // Copies source byte for byte into a new file at target, on the same terms.
    static bool copyNew(const QString &source, const QString &target);
};

#endif // NOCLOBBERWRITER_H
