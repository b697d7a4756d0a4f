#include "data/dicomstack.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "data/slicedata.h"

namespace {

double dot3(const double *a, const double *b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

}  // namespace

void stackByPosition(std::vector<std::unique_ptr<SliceData>> &slices, QStringList &names,
                     const std::vector<AcceptedFile> &meta, Spacing &spacing, QString &unit, PatientAxes *axes)
{
    spacing = Spacing();
    unit.clear();
    for (const AcceptedFile &m : meta) {
        if (m.hasSpacing) {
            spacing = m.spacing;
            unit = m.spacingUnit;
            break;
        }
    }
    if (axes)
        *axes = PatientAxes();
    if (meta.size() < 2 || slices.size() != meta.size())
        return;
    const DicomPlacement &first = meta.front().dicom;
    for (const AcceptedFile &m : meta) {
        if (!m.isDicom || m.sliceCount != 1 || !m.dicom.hasGeometry || m.dicom.seriesUid != first.seriesUid)
            return;
    }
    const double normal[3] = {first.rowDir[1] * first.colDir[2] - first.rowDir[2] * first.colDir[1],
                              first.rowDir[2] * first.colDir[0] - first.rowDir[0] * first.colDir[2],
                              first.rowDir[0] * first.colDir[1] - first.rowDir[1] * first.colDir[0]};
    std::vector<std::pair<double, std::size_t>> order;
    order.reserve(meta.size());
    for (std::size_t i = 0; i < meta.size(); ++i)
        order.emplace_back(dot3(meta[i].dicom.position, normal), i);
    std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<std::unique_ptr<SliceData>> sorted;
    QStringList sortedNames;
    sorted.reserve(slices.size());
    for (const auto &o : order) {
        sorted.push_back(std::move(slices[o.second]));
        sortedNames.append(names.at(qsizetype(o.second)));
    }
    slices.swap(sorted);
    names.swap(sortedNames);
    const double step = (order.back().first - order.front().first) / double(order.size() - 1);
    if (std::isfinite(step) && step > 0.0)
        spacing.z = step;
    else if (first.sliceGap > 0.0)
        spacing.z = first.sliceGap;
    // The stack runs along the normal, as the slices are now ordered.
    const double length = std::sqrt(dot3(normal, normal));
    if (axes && std::isfinite(length) && length > 0.0) {
        axes->known = true;
        for (int i = 0; i < 3; ++i) {
            axes->column[i] = first.rowDir[i];
            axes->row[i] = first.colDir[i];
            axes->stack[i] = normal[i] / length;
        }
    }
}
