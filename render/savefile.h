#ifndef SAVEFILE_H
#define SAVEFILE_H

#include <QIODevice>
#include <QSaveFile>
#include <QString>

namespace render {

// False, with a one-line reason, for a name no file can have: empty, or holding a
// NUL character (the system would open a shorter name than the one given).
bool fileNameUsable(const QString &fname, QString *error);

// A whole-file save that never loses the file it replaces: what a writer writes
// goes to a file beside the target, and commit() renames it over the target only
// when every byte was written. Each write reaches the file at once and whole, or
// fails and keeps the system's reason ("No space left on device", "File too large"),
// even for a writer that ignores a short write; a failure after that refuses every
// further write, and commit() then keeps the target as it was. A target that is a
// symbolic link is written through the link, which stays; a target that exists and
// is not a regular file (a device, a pipe, a folder, or a link to one) is refused,
// so a device node is never replaced. Owned by the code that writes; any thread.
class SaveFile : public QIODevice
{
public:
    // Without commit() the file beside the target is removed and the target stays.
    explicit SaveFile(const QString &target);

    // Checks the name and the target and opens the file beside it; false with a
    // one-line reason.
    bool open(QString *error);
    // The reason of the first failed write, or empty.
    QString failure() const { return failure_; }
    // Renames the written file over the target; false with a one-line reason, and
    // the target as it was, after any failed write or when the rename fails.
    bool commit(QString *error);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 len) override;

private:
    QSaveFile file_;
    QString failure_;
};

}  // namespace render

#endif
