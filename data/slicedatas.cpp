#include "data/slicedatas.h"

#include "data/slicedata.h"

SliceDatas::SliceDatas(QObject *parent) : QObject(parent) { clear(); }
SliceDatas::~SliceDatas()
{
    for (SliceData *s : slices)
        delete s;
}
void SliceDatas::clear() { emit cleared(); }
void SliceDatas::makeHist() {}
void SliceDatas::filesSelected(QStringList files) { Q_UNUSED(files); }
