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

void normalOf(const DicomPlacement &p, double *n)
{
    n[0] = p.rowDir[1] * p.colDir[2] - p.rowDir[2] * p.colDir[1];
    n[1] = p.rowDir[2] * p.colDir[0] - p.rowDir[0] * p.colDir[2];
    n[2] = p.rowDir[0] * p.colDir[1] - p.rowDir[1] * p.colDir[0];
}

// Same series, and the same orientation when both have one (within rounding).
bool sameGroup(const AcceptedFile &a, const AcceptedFile &b)
{
    if (a.dicom.seriesUid != b.dicom.seriesUid)
        return false;
    if (!a.dicom.hasGeometry || !b.dicom.hasGeometry)
        return true;
    double na[3], nb[3];
    normalOf(a.dicom, na);
    normalOf(b.dicom, nb);
    return dot3(na, nb) > 0.999;
}

// Keeps the entries whose keep flag is set, in order.
void keepOnly(std::vector<std::unique_ptr<SliceData>> &slices, QStringList &names, std::vector<AcceptedFile> &meta,
              const std::vector<char> &keep)
{
    std::size_t to = 0;
    QStringList kept;
    for (std::size_t i = 0; i < meta.size(); ++i) {
        if (!keep[i])
            continue;
        slices[to] = std::move(slices[i]);
        meta[to] = meta[i];
        kept.append(names.at(qsizetype(i)));
        ++to;
    }
    slices.resize(to);
    meta.resize(to);
    names.swap(kept);
}

}  // namespace

void stackByPosition(std::vector<std::unique_ptr<SliceData>> &slices, QStringList &names,
                     std::vector<AcceptedFile> &meta, Spacing &spacing, QString &unit, QList<SkippedFile> &skipped,
                     StackingNote &note, PatientAxes *axes)
{
    spacing = Spacing();
    unit.clear();
    note = StackingNote();
    auto firstSpacing = [&] {
        for (const AcceptedFile &m : meta) {
            if (m.hasSpacing) {
                spacing = m.spacing;
                unit = m.spacingUnit;
                return;
            }
        }
    };
    firstSpacing();
    if (axes)
        *axes = PatientAxes();
    if (meta.size() < 2 || slices.size() != meta.size())
        return;
    for (const AcceptedFile &m : meta) {
        if (!m.isDicom || m.sliceCount != 1)
            return;
    }
    // Groups of one series and orientation: each file joins the first group it fits.
    const std::size_t total = meta.size();
    std::vector<std::size_t> groupOf(total);
    std::vector<std::size_t> leaders;
    std::vector<std::size_t> sizes;
    for (std::size_t i = 0; i < total; ++i) {
        std::size_t g = 0;
        while (g < leaders.size() && !sameGroup(meta[leaders[g]], meta[i]))
            ++g;
        if (g == leaders.size()) {
            leaders.push_back(i);
            sizes.push_back(0);
        }
        groupOf[i] = g;
        ++sizes[g];
    }
    if (leaders.size() > 1) {
        const std::size_t kept = std::size_t(std::max_element(sizes.begin(), sizes.end()) - sizes.begin());
        std::vector<char> keep(total, 0);
        for (std::size_t i = 0; i < total; ++i) {
            keep[i] = groupOf[i] == kept;
            if (!keep[i]) {
                const bool series = meta[i].dicom.seriesUid != meta[leaders[kept]].dicom.seriesUid;
                skipped.append(
                    SkippedFile{names.at(qsizetype(i)),
                                QString::fromLatin1(series ? skipReason::otherSeries : skipReason::otherOrientation)});
            }
        }
        keepOnly(slices, names, meta, keep);
        note = StackingNote{stackNote::split, int(meta.size()), int(total)};
        firstSpacing();
    }
    std::size_t unplaced = 0;
    const AcceptedFile *placed = nullptr;
    for (const AcceptedFile &m : meta) {
        if (!m.dicom.hasGeometry)
            ++unplaced;
        else if (!placed)
            placed = &m;
    }
    if (unplaced > 0 || !placed) {
        if (meta.size() > 1)
            note = StackingNote{stackNote::listOrder, int(unplaced), int(meta.size())};
        return;
    }
    const DicomPlacement &first = placed->dicom;
    double normal[3];
    normalOf(first, normal);
    std::vector<std::pair<double, std::size_t>> order;
    order.reserve(meta.size());
    for (std::size_t i = 0; i < meta.size(); ++i)
        order.emplace_back(dot3(meta[i].dicom.position, normal), i);
    std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    // A slice at the place of one before it is a copy or another acquisition: it
    // would make a false step. Places count as equal within a micrometre.
    std::vector<std::pair<double, std::size_t>> distinct;
    distinct.reserve(order.size());
    for (const auto &o : order) {
        if (!distinct.empty() && std::fabs(o.first - distinct.back().first) < 1e-3) {
            skipped.append(SkippedFile{names.at(qsizetype(o.second)), QString::fromLatin1(skipReason::samePosition)});
            continue;
        }
        distinct.push_back(o);
    }
    std::vector<std::unique_ptr<SliceData>> sorted;
    std::vector<AcceptedFile> sortedMeta;
    QStringList sortedNames;
    sorted.reserve(distinct.size());
    for (const auto &o : distinct) {
        sorted.push_back(std::move(slices[o.second]));
        sortedMeta.push_back(meta[o.second]);
        sortedNames.append(names.at(qsizetype(o.second)));
    }
    slices.swap(sorted);
    meta.swap(sortedMeta);
    names.swap(sortedNames);
    if (distinct.size() < 2) {
        if (first.sliceGap > 0.0)
            spacing.z = first.sliceGap;
        return;
    }
    const double step = (distinct.back().first - distinct.front().first) / double(distinct.size() - 1);
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
