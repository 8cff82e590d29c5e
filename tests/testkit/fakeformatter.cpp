#include "fakeformatter.h"

#include "mediakit.h"
#include "platform/diskformatter.h"

namespace testkit {

void fakeFormattingTools(const QString &folder, const QString &log)
{
    const QString tool = MediaKit::fakeTool(folder, "tool", "echo \"$*\" >> '" + log + "'");
    DiskFormatter::setTestHook([tool](DiskFormatter &formatter) {
        for (auto p : {DiskFormatter::Sfdisk, DiskFormatter::MkfsVfat, DiskFormatter::MkfsExfat, DiskFormatter::Umount,
                       DiskFormatter::Udisksctl})
            formatter.setProgram(p, tool);
    });
}

} // namespace testkit
