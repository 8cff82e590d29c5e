#ifndef MADEFILES_H
#define MADEFILES_H

#include <QString>

// What each file the program makes from another (a conversion, an optimised
// video) was made from: the source's path, size and modification time, kept
// in the library database.  A made file is reused only for that same source;
// a different source -- another song with the same title, a camera clip with
// a name that repeats across cards -- gets a free name beside it instead of
// taking the file's place.
//
//   const MadeFiles::Claim out = MadeFiles::claim(wanted, MadeFiles::Source::of(source));
//   if (!out.reuse && make(source, out.path))
//       MadeFiles::made(out.path, source);   // records it, ends the claim
//   else if (!out.reuse)
//       MadeFiles::release(out.path);
//
// A claim reserves a name for the job making it, so parallel jobs of the
// process never pick one name.  Usable from any thread.
class MadeFiles
{
public:
    struct Source
    {
        QString path;
        qint64 size = -1;
        qint64 modified = -1; // ms since the epoch
        static Source of(const QString &path);
        bool operator==(const Source &other) const
        {
            return path == other.path && size == other.size && modified == other.modified;
        }
    };

    struct Claim
    {
        QString path;       // where the output is (to be) made
        bool reuse = false; // a file made from the same source is already there
    };

    // The output for `source` at `wanted`, else at "wanted (2)", "(3)" ...:
    // the first name that holds a file made from this source (reused), or
    // holds nothing and is not being made by another job (claimed).
    static Claim claim(const QString &wanted, const Source &source);
    // Records that `output` now holds what was made from `source`, and ends
    // its claim.  False when the record could not be written (the file is
    // fine, it just won't be reused).
    static bool made(const QString &output, const MadeFiles::Source &source);
    static bool made(const QString &output, const QString &sourcePath) { return made(output, Source::of(sourcePath)); }
    // Ends a claim that made nothing.
    static void release(const QString &output);
    // The source `output` was recorded as made from; empty when none is.
    static QString sourceOf(const QString &output);
    // The whole record of that source (path, size, time); an empty path
    // when there is none.
    static Source recordedSourceOf(const QString &output);
    // Every output on record with what it was made from.
    static QList<std::pair<Source, QString>> recordedOutputs();

    // "<folder>/<base> (n).<suffix>", the base shortened when the name would
    // pass the 255-byte limit.  n = 1 gives `path` itself.
    static QString numbered(const QString &path, int n);
};

#endif // MADEFILES_H
