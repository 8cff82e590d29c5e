#ifndef FAKEFORMATTER_H
#define FAKEFORMATTER_H

#include <QString>

namespace testkit {

// Makes every program DiskFormatter runs (partitioning, both mkfs, umount,
// udisksctl) one fake, made in `folder`, that appends its arguments as a line
// to `log` and succeeds: nothing a test does can erase a disk.  Undo with
// DiskFormatter::setTestHook({}).
void fakeFormattingTools(const QString &folder, const QString &log);

} // namespace testkit

#endif // FAKEFORMATTER_H
