// The panel's rows under the file list: the set's line, the skipped files, the
// spacing fields, and the progress of a running load.
#include "ui/slicesctrl.h"

#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include <algorithm>
#include <cmath>

#include "app/messagenames.h"
#include "data/streamedvolume.h"
#include "widgets/exlabel.h"

namespace {
// A spacing in the set's line: three significant digits are plenty to read.
QString spacingText(double x)
{
    return QString::number(x, 'g', 3);
}

// A spacing as a field reads it: a number within the spacing bounds, else 1.
double spacingValue(double v)
{
    return spacingFieldValue(v);
}

// A size in the set's line: "3.1 GiB", "256 MiB" (one decimal below ten).
QString bytesText(qint64 bytes)
{
    static const char *const units[] = {"B", "KiB", "MiB", "GiB", "TiB", "PiB"};
    double v = double(std::max<qint64>(bytes, 0));
    int u = 0;
    while (u < 5 && std::round(v * 10.0) / 10.0 >= 1024.0) {
        v /= 1024.0;
        ++u;
    }
    const bool decimal = u > 0 && std::round(v * 10.0) / 10.0 < 10.0;
    return QString::number(v, 'f', decimal ? 1 : 0) + QLatin1Char(' ') + QLatin1String(units[u]);
}

// The skipped files listed in a tool tip, at most this many lines.
constexpr int maxSkippedLines = 30;
}  // namespace

// Two rows under the file list, made here rather than in the form so that they
// stay together: the set's line with the skipped-files line, then the spacing
// fields with the progress bar and Cancel, which are shown only while a load runs.
void SlicesCtrl::makeSetInfo()
{
    auto *box = new QFrame(slicesCtrlFrame_);
    box->setObjectName("setInfoFrame_");
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    setInfo_ = new QLabel(box);
    setInfo_->setObjectName("setInfo_");
    skippedInfo_ = new QLabel(box);
    skippedInfo_->setObjectName("skippedInfo_");
    skippedInfo_->setVisible(false);
    auto *spacingLabel = new QLabel(tr("Spacing"), box);
    spacingX_ = new QLineEdit(box);
    spacingY_ = new QLineEdit(box);
    spacingZ_ = new QLineEdit(box);
    spacingX_->setObjectName("spacingX_");
    spacingY_->setObjectName("spacingY_");
    spacingZ_->setObjectName("spacingZ_");
    spacingX_->setToolTip(tr("Column step"));
    spacingY_->setToolTip(tr("Row step"));
    spacingZ_->setToolTip(tr("Slice step"));
    for (QLineEdit *field : {spacingX_, spacingY_, spacingZ_}) {
        field->setMaximumWidth(60);
        field->setText("1");
    }
    loadProgress_ = new QProgressBar(box);
    loadProgress_->setObjectName("loadProgress_");
    loadProgress_->setFormat(tr("%v of %m files"));
    loadProgress_->setVisible(false);
    cancelLoad_ = new QPushButton(tr("Cancel"), box);
    cancelLoad_->setObjectName("cancelLoad_");
    cancelLoad_->setVisible(false);
    importRaw_ = new QPushButton(tr("Import Raw…"), box);
    importRaw_->setObjectName("importRaw_");
    importRaw_->setToolTip(tr("Loads a raw file of samples whose size, type and byte order you give"));
    connect(importRaw_, &QPushButton::clicked, this, &SlicesCtrl::showImportRawD);

    auto *line = new QHBoxLayout;
    line->addWidget(setInfo_, 1);
    line->addWidget(skippedInfo_);
    logHist_ = new QCheckBox(tr("Log counts"), box);
    logHist_->setObjectName("logHist_");
    logHist_->setToolTip(tr("Draws the histogram's counts on a logarithmic scale"));
    connect(logHist_, &QCheckBox::toggled, dispH_, qOverload<>(&QWidget::update));
    line->addWidget(logHist_);
    grid->addLayout(line, 0, 0);
    auto *controls = new QHBoxLayout;
    controls->addWidget(spacingLabel);
    controls->addWidget(spacingX_);
    controls->addWidget(spacingY_);
    controls->addWidget(spacingZ_);
    controls->addWidget(loadProgress_, 1);
    controls->addWidget(cancelLoad_);
    controls->addStretch(0);
    controls->addWidget(importRaw_);
    grid->addLayout(controls, 1, 0);
    gridLayout_2->addWidget(box, gridLayout_2->rowCount(), 0);
    progressTimer.setInterval(100);

    cutInfo_ = new QLabel(frame);
    cutInfo_->setObjectName("cutInfo_");
    cutInfo_->setToolTip(tr("The slice the cut plane crosses at the middle of the set, and the plane's distance "
                            "from the middle"));
    gridLayout_6->addWidget(cutInfo_, 0, gridLayout_6->columnCount());
    connect(cSlider_, &QSlider::valueChanged, this, &SlicesCtrl::updateSetInfo);
}

Spacing SlicesCtrl::spacing() const
{
    return Spacing{spacingValue(fieldValue(spacingX_)), spacingValue(fieldValue(spacingY_)),
                   spacingValue(fieldValue(spacingZ_))};
}

void SlicesCtrl::setSpacing(const Spacing &s)
{
    writeField(spacingX_, s.x);
    writeField(spacingY_, s.y);
    writeField(spacingZ_, s.z);
    updateSetInfo();
}

// "24 slices · 128 × 96 · 0.5 × 0.5 × 2 mm": count, size and the spacing as the
// fields read now, with the unit the files gave.
void SlicesCtrl::updateSetInfo()
{
    // The cut plane: slice j lies at j - slices / 2 slice steps from the middle.
    if (hasSlices && sliceCount > 0) {
        const double steps = cSlider_->value() / 100.0 * sliceCount;
        const int slice = std::clamp(int(std::floor(sliceCount / 2.0 + steps)), 0, sliceCount - 1);
        const QString distance = QString::number(steps * spacing().z, 'f', 1);
        cutInfo_->setText(spacingUnit.isEmpty() ? tr("slice %1 · %2").arg(slice + 1).arg(distance)
                                                : tr("slice %1 · %2 %3").arg(slice + 1).arg(distance, spacingUnit));
    } else {
        cutInfo_->clear();
    }
    if (!hasSlices) {
        setInfo_->setText(listedFiles.isEmpty() && skippedInfo_->isHidden() ? QString() : tr("No slices"));
        return;
    }
    const Spacing sp = spacing();
    QString step = tr("%1 × %2 × %3").arg(spacingText(sp.x), spacingText(sp.y), spacingText(sp.z));
    if (!spacingUnit.isEmpty())
        step += QLatin1Char(' ') + spacingUnit;
    const QString count = sliceCount == 1 ? tr("1 slice") : tr("%1 slices").arg(sliceCount);
    QString info = tr("%1 · %2 × %3 · %4").arg(count).arg(sliceWidth).arg(sliceHeight).arg(step);
    // A level of a multi-resolution volume: "2048³ · level 2 of 5" (0 the finest).
    if (levelsShown.finestSize[0] > 0) {
        const qint64 *n = levelsShown.finestSize;
        const QString full = n[0] == n[1] && n[1] == n[2] ? tr("%1³").arg(n[0])
                                                          : tr("%1 × %2 × %3").arg(n[0]).arg(n[1]).arg(n[2]);
        info += tr(" · %1 · level %2 of %3").arg(full).arg(levelsShown.level).arg(levelsShown.levels);
        // Finer levels read chunk by chunk: the slices and the chunks held, of the
        // finest level's stored samples.
        if (streamShown) {
            const StreamLevel &finest = streamShown->levels().front();
            const SampleLayout layout = streamShown->layout();
            const qint64 held = qint64(sliceCount) * keptSliceBytes(layout, sliceWidth, sliceHeight);
            const qint64 whole = finest.width * finest.height * finest.depth * sampleTypeBytes(layout.type);
            info += tr(" · %1 of %2 in memory")
                        .arg(bytesText(held + streamShown->bytesHeld()), bytesText(whole));
        }
    }
    if (volumeCount > 1)
        info += tr(" · 4-D: first of %1 volumes").arg(volumeCount);
    if (stacking.text)
        info += QStringLiteral(" · ") + tr(stacking.text).arg(stacking.first).arg(stacking.second);
    setInfo_->setText(info);
}

void SlicesCtrl::showDrawnLevel(int level)
{
    if (!streamShown)
        return;
    if (level >= 0)
        levelsShown.level = level;
    updateSetInfo();
}

void SlicesCtrl::pollLoadProgress()
{
    const LoadProgress p = sliceDatas.loadProgress();
    if (!p.running) {
        progressTimer.stop();
        loadProgress_->setVisible(false);
        cancelLoad_->setVisible(false);
        return;
    }
    loadProgress_->setRange(0, std::max(p.total, 1));
    loadProgress_->setValue(std::min(p.done, std::max(p.total, 1)));
    loadProgress_->setVisible(true);
    cancelLoad_->setVisible(true);
}

// Stops the running load after its current file; what it accepted is kept.
void SlicesCtrl::cancelLoading()
{
    sliceDatas.cancelLoad();
}

// "3 files skipped", with each file and its reason in the tool tip.
void SlicesCtrl::showSkipped(const QList<SkippedFile> &skipped)
{
    skippedInfo_->setVisible(!skipped.isEmpty());
    if (skipped.isEmpty()) {
        skippedInfo_->clear();
        skippedInfo_->setToolTip(QString());
        return;
    }
    const qsizetype n = skipped.size();
    skippedInfo_->setText(n == 1 ? tr("1 file skipped") : tr("%1 files skipped").arg(n));
    QStringList lines;
    for (qsizetype i = 0; i < n && i < maxSkippedLines; ++i) {
        const SkippedFile &f = skipped.at(i);
        lines << tr("%1: %2")
                     .arg(messagenames::middleElided(QDir::toNativeSeparators(f.file)),
                          tr(f.reason.toUtf8().constData()))
                     .toHtmlEscaped();
    }
    if (n > maxSkippedLines)
        lines << tr("and %1 more").arg(n - maxSkippedLines).toHtmlEscaped();
    // Rich text, so that a file name that looks like markup is shown as it is.
    skippedInfo_->setToolTip(QStringLiteral("<p style=\"white-space:pre\">") + lines.join(QStringLiteral("<br>"))
                             + QStringLiteral("</p>"));
}
