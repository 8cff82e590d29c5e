#ifndef STDOUTCAPTURE_H
#define STDOUTCAPTURE_H

#include <QString>
#include <QTemporaryFile>

namespace testkit {

// Collects what the code under test prints on standard output, from
// construction until finish() (which gives it back and restores the output).
class StdoutCapture
{
public:
    StdoutCapture();
    QString finish();

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace testkit

#endif // STDOUTCAPTURE_H
