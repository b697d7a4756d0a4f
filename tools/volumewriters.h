#ifndef VOLUMEWRITERS_H
#define VOLUMEWRITERS_H

#include <QByteArray>
#include <QString>

// Writers of the research volume formats through ITK's image IO, the library the
// viewer reads them with: the suffix of the path picks NIfTI (.nii, .nii.gz), NRRD
// (.nrrd, .nhdr with its data file beside it) or MetaImage (.mha, .mhd with its
// data file). Used by the sample generator and by the tests.
namespace volumewriters {

enum class Type { u8, s8, u16, s16, u32, s32, f32, f64 };
int typeBytes(Type t);

struct Volume {
    int dims = 3;  // 2, 3 or 4
    long long size[4] = {1, 1, 1, 1};
    double spacing[4] = {1.0, 1.0, 1.0, 1.0};
    // Column j: the direction of axis j in patient coordinates (x left, y back, z up).
    double direction[3][3] = {{1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}};
    Type type = Type::u16;
    QByteArray samples;  // this machine's byte order, x fastest, then y, z, t
    // NIfTI only: written as scl_slope and scl_inter (value = sample * slope + intercept).
    double slope = 1.0;
    double intercept = 0.0;
    bool compress = true;  // gzip for NRRD and MetaImage; .nii.gz is compressed by its name
};

// False, with a message in *error when given, when the volume cannot be written
// (an unknown suffix, too few samples, a failing write).
bool write(const QString &path, const Volume &v, QString *error = nullptr);

}  // namespace volumewriters

#endif
