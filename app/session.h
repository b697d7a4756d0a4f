#ifndef SESSION_H
#define SESSION_H

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

#include "data/rawvolume.h"
#include "data/spacing.h"
#include "render/layersettings.h"
#include "render/measure.h"
#include "render/scene.h"
#include "render/sliceview.h"

// One slice set of a session: its files and every setting of its panel that
// changes the picture, kept exact.
struct SessionSet : LayerSettings {
    QStringList files;  // absolute names, in stack order
    // How the set's raw files are read, by absolute name: a session opened elsewhere
    // loads them as the one who saved it described them.
    QHash<QString, RawDescription> raw;
};


// A saved view of every set: what "Save Session…" writes and "Open Session…" and
// `oxa-render --session` read. Files are JSON with a format version.
struct Session {
    // 2: the views, the crosshair and the measurements; a file of format 1 reads with
    // their defaults.
    static constexpr int formatVersion = 2;
    SceneView view;
    int width = 256;
    int height = 256;
    bool linkCSection = true;
    ViewsLayout views = ViewsLayout::Picture;
    Vec3 crosshair;  // in the sets' unit
    std::vector<Measurement> measurements;
    QColor background{255, 255, 255};
    Overlays overlays;
    std::vector<SessionSet> sets;
};

// The JSON text of a session; file names are written relative to base where they
// lie below or beside it, else absolute.
QByteArray sessionToJson(const Session &s, const QDir &base);
// Parses a session; relative file names are taken from base. On any fault (not
// JSON, another format, a newer version, a wrong type, a number out of range, an
// unknown key) returns false with a one-line reason and leaves out untouched.
// Besides their types, the reader holds the values to what can be drawn: view
// axes of unit length and at right angles (within render::viewAxisTolerance),
// spacings within the spacing bounds, a cut normal of unit length, or (0, 0, 0)
// where the cut is not shown, and file names without a NUL character.
bool sessionFromJson(const QByteArray &json, const QDir &base, Session &out, QString *error);

// The same through a file. Reading takes regular files of at most 64 MiB only;
// writing goes through render::SaveFile, so a failed save (a full disk, a size
// limit, a target that is not a regular file) leaves an existing file as it was.
bool readSessionFile(const QString &fname, Session &out, QString *error);
bool writeSessionFile(const QString &fname, const Session &s, QString *error);

// The files of a session that do not exist (or are not regular files), in order.
QStringList missingSessionFiles(const Session &s);

// The descriptions this process knows (rawimport) of the raw files among set.files.
void describeRawFiles(SessionSet &set);
// Makes every raw description of the session known to the loader (rawimport).
void rememberRawFiles(const Session &s);

#endif
