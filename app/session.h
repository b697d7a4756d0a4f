#ifndef SESSION_H
#define SESSION_H

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QString>
#include <QStringList>

#include <vector>

#include "data/spacing.h"
#include "render/layersettings.h"
#include "render/scene.h"

// One slice set of a session: its files and every setting of its panel that
// changes the picture, kept exact.
struct SessionSet : LayerSettings {
    QStringList files;  // absolute names, in stack order
};

// A saved view of every set: what "Save Session…" writes and "Open Session…" and
// `oxa-render --session` read. Files are JSON with a format version.
struct Session {
    static constexpr int formatVersion = 1;
    SceneView view;
    int width = 256;
    int height = 256;
    bool linkCSection = true;
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
bool sessionFromJson(const QByteArray &json, const QDir &base, Session &out, QString *error);

// The same through a file. Reading takes regular files of at most 64 MiB only;
// writing goes through a temporary file renamed over the target, so a failed
// save leaves an existing file as it was.
bool readSessionFile(const QString &fname, Session &out, QString *error);
bool writeSessionFile(const QString &fname, const Session &s, QString *error);

// The files of a session that do not exist (or are not regular files), in order.
QStringList missingSessionFiles(const Session &s);

#endif
