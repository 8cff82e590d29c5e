#include "stdoutcapture.h"

#include <cstdio>
#include <unistd.h>

namespace testkit {

StdoutCapture::StdoutCapture()
{
    std::fflush(stdout);
    m_file.open();
    m_saved = dup(STDOUT_FILENO);
    dup2(m_file.handle(), STDOUT_FILENO);
}

QString StdoutCapture::finish()
{
    std::fflush(stdout);
    dup2(m_saved, STDOUT_FILENO);
    close(m_saved);
    m_file.seek(0);
    return QString::fromLatin1(m_file.readAll());
}

} // namespace testkit
