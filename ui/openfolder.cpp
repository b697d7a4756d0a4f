// The panel's "Open Folder…": a folder's slice files, or one of its DICOM series; and
// "Open Address…": an OME-Zarr image at an address.
#include "ui/slicesctrl.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QImageReader>
#include <QInputDialog>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "data/folderscan.h"
#include "data/zarrstore.h"

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
    openAddress_ = new QPushButton(tr("Open Address…"), selectB_->parentWidget());
    openAddress_->setObjectName(QStringLiteral("openAddress_"));
    openAddress_->setSizePolicy(selectB_->sizePolicy());
    openAddress_->setToolTip(tr("Loads an OME-Zarr image from an http:// or https:// address"));
    if (auto *grid = qobject_cast<QGridLayout *>(selectB_->parentWidget()->layout())) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(grid->indexOf(selectB_), &row, &column, &rows, &columns);
        auto *pair = new QHBoxLayout;
        pair->setSpacing(2);
        grid->removeWidget(selectB_);
        pair->addWidget(selectB_);
        pair->addWidget(openFolder_);
        pair->addWidget(openAddress_);
        grid->addLayout(pair, row, column);
    }
    connect(openFolder_, &QPushButton::clicked, this, &SlicesCtrl::selectFolder);
    connect(openAddress_, &QPushButton::clicked, this, &SlicesCtrl::selectAddress);
}

void SlicesCtrl::selectAddress()
{
    if (addressDialog)
        addressDialog->deleteLater();
    addressDialog = new QInputDialog(this);
    addressDialog->setWindowTitle(tr("Open Address"));
    addressDialog->setLabelText(tr("Address of an OME-Zarr image (http:// or https://):"));
    addressDialog->setInputMode(QInputDialog::TextInput);
    addressDialog->setTextValue(QStringLiteral("https://"));
    connect(addressDialog, &QInputDialog::textValueSelected, this, &SlicesCtrl::addressSelected);
    addressDialog->show();
}

void SlicesCtrl::addressSelected(const QString &address)
{
    const QString a = address.trimmed();
    // Anything but an address is left as it was; an empty list would clear the set.
    if (isZarrAddress(a))
        loadFiles(QStringList{a});
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
