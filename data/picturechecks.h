#ifndef PICTURECHECKS_H
#define PICTURECHECKS_H

class QIODevice;

// Checks made on a file before it goes to Qt's picture decoders. Plain functions,
// safe on any thread.
namespace picturecheck {

// False for a picture file that would make its decoder allocate far more than the
// file could ever hold (see iconLengthsFit), and for a vector drawing (see
// isVectorFormat), and for a damaged PNG file (see pngSound); such a file is not decoded as a picture. The file is what the
// random-access device holds from its position on; the position is left anywhere.
bool safeToDecode(QIODevice &device);

}  // namespace picturecheck

#endif
