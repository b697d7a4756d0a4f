// The panel's "Open Folder…": a folder's slice files, or one of its DICOM series.
#include "ui/slicesctrl.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QImageReader>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "data/folderscan.h"

QStringList SlicesCtrl::sliceFileFilters()
{
    QStringList patterns{QStringLiteral("*.dat"),  QStringLiteral("*.dcm"),    QStringLiteral("*.dicom"),
                         QStringLiteral("*.ima"),  QStringLiteral("*.tif"),    QStringLiteral("*.tiff"),
                         QStringLiteral("*.nii"),  QStringLiteral("*.nii.gz"), QStringLiteral("*.nrrd"),
                         QStringLiteral("*.nhdr"), QStringLiteral("*.mha"),    QStringLiteral("*.mhd")};
    for (const QByteArray &format : QImageReader::supportedImageFormats()) {
        const QString pattern = QStringLiteral("*.") + QString::fromLatin1(format).toLower();
        // Vector drawings are never read as slices.
        if (!patterns.contains(pattern) && format != "svg" && format != "svgz" && format != "pdf")
            patterns.append(pattern);
    }
    return {tr("Slice Files (%1)").arg(patterns.join(QLatin1Char(' '))), tr("Data Files (*.dat *.png)"),
            tr("Volumes (*.nii *.nii.gz *.nrrd *.nhdr *.mha *.mhd)"), tr("Any Files (* *.*)")};
}

void SlicesCtrl::makeOpenFolder()
{
    openFolder_ = new QPushButton(tr("Open Folder…"), selectB_->parentWidget());
    openFolder_->setObjectName(QStringLiteral("openFolder_"));
    openFolder_->setSizePolicy(selectB_->sizePolicy());
    openFolder_->setToolTip(tr("Loads every slice file of a folder; a folder with several DICOM series asks which"));
    if (auto *grid = qobject_cast<QGridLayout *>(selectB_->parentWidget()->layout())) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(grid->indexOf(selectB_), &row, &column, &rows, &columns);
        auto *pair = new QHBoxLayout;
        pair->setSpacing(2);
        grid->removeWidget(selectB_);
        pair->addWidget(selectB_);
        pair->addWidget(openFolder_);
        grid->addLayout(pair, row, column);
    }
    connect(openFolder_, &QPushButton::clicked, this, &SlicesCtrl::selectFolder);
}

void SlicesCtrl::loadFiles(const QStringList &files)
{
    QMetaObject::invokeMethod(&sliceDatas, "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, files));
}

void SlicesCtrl::selectFolder()
{
    if (folderDialog)
        folderDialog->deleteLater();
    folderDialog = new QFileDialog(this, tr("Open Folder"), dataRoot);
    folderDialog->setFileMode(QFileDialog::Directory);
    folderDialog->setOption(QFileDialog::ShowDirsOnly, true);
    if (!nativeDialog)
        folderDialog->setOption(QFileDialog::DontUseNativeDialog, true);
    connect(folderDialog, &QFileDialog::fileSelected, this, &SlicesCtrl::folderSelected);
    folderDialog->show();
}

void SlicesCtrl::folderSelected(const QString &dir)
{
    dataRoot = dir;
    const QStringList files = filesInFolder(dir);
    const QList<DicomSeriesEntry> series = dicomSeriesAmong(files);
    if (series.size() < 2) {
        loadFiles(files);
        return;
    }
    delete seriesDialog;
    seriesDialog = new QDialog(this);
    seriesDialog->setWindowTitle(tr("Choose a Series"));
    auto *list = new QListWidget(seriesDialog);
    list->setObjectName(QStringLiteral("seriesList_"));
    for (const DicomSeriesEntry &e : series) {
        const QString count = e.files.size() == 1 ? tr("1 slice") : tr("%1 slices").arg(e.files.size());
        auto *item = new QListWidgetItem(tr("%1 · %2").arg(e.description.isEmpty() ? tr("(no description)") : e.description, count), list);
        item->setData(Qt::UserRole, e.files);
    }
    list->setCurrentRow(0);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, seriesDialog);
    auto *box = new QVBoxLayout(seriesDialog);
    box->addWidget(list);
    box->addWidget(buttons);
    QDialog *dialog = seriesDialog;
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(list, &QListWidget::itemDoubleClicked, dialog, &QDialog::accept);
    connect(dialog, &QDialog::accepted, this, [this, list] {
        if (QListWidgetItem *item = list->currentItem())
            loadFiles(item->data(Qt::UserRole).toStringList());
    });
    dialog->show();
}
