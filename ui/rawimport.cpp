#include "ui/rawimport.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>
#include <limits>

#include "ui/slicesctrl.h"

namespace {

QLineEdit *numberField(QWidget *parent, const QString &name, const QString &text)
{
    auto *field = new QLineEdit(text, parent);
    field->setObjectName(name);
    field->setMaximumWidth(110);
    return field;
}

bool wholeNumber(const QLineEdit *field, qint64 low, qint64 high, qint64 &out)
{
    bool ok = false;
    out = field->text().trimmed().toLongLong(&ok, 10);
    return ok && out >= low && out <= high;
}

bool positiveNumber(const QLineEdit *field, double &out)
{
    bool ok = false;
    out = field->text().trimmed().toDouble(&ok);
    return ok && std::isfinite(out) && out > 0.0;
}

}  // namespace

RawImportDialog::RawImportDialog(const QString &folder, QWidget *parent) : QDialog(parent), folder_(folder)
{
    setWindowTitle(tr("Import Raw"));
    auto *form = new QFormLayout(this);
    fileName_ = new QLineEdit(this);
    fileName_->setReadOnly(true);
    auto *choose = new QPushButton(tr("Choose…"), this);
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(fileName_, 1);
    fileRow->addWidget(choose);
    form->addRow(tr("File"), fileRow);
    width_ = numberField(this, QStringLiteral("rawWidth_"), QStringLiteral("512"));
    height_ = numberField(this, QStringLiteral("rawHeight_"), QStringLiteral("512"));
    slices_ = numberField(this, QStringLiteral("rawSlices_"), QStringLiteral("1"));
    form->addRow(tr("Width"), width_);
    form->addRow(tr("Height"), height_);
    form->addRow(tr("Slices"), slices_);
    type_ = new QComboBox(this);
    type_->setObjectName(QStringLiteral("rawType_"));
    for (SampleType t : allSampleTypes)
        type_->addItem(sampleTypeName(t), int(t));
    type_->setCurrentIndex(2);  // 16-bit unsigned, the commonest of scanners
    form->addRow(tr("Data type"), type_);
    order_ = new QComboBox(this);
    order_->setObjectName(QStringLiteral("rawOrder_"));
    order_->addItem(tr("Little endian (least significant byte first)"), false);
    order_->addItem(tr("Big endian (most significant byte first)"), true);
    form->addRow(tr("Byte order"), order_);
    header_ = numberField(this, QStringLiteral("rawHeader_"), QStringLiteral("0"));
    form->addRow(tr("Header bytes to skip"), header_);
    spacingX_ = numberField(this, QStringLiteral("rawSpacingX_"), QStringLiteral("1"));
    spacingY_ = numberField(this, QStringLiteral("rawSpacingY_"), QStringLiteral("1"));
    spacingZ_ = numberField(this, QStringLiteral("rawSpacingZ_"), QStringLiteral("1"));
    auto *spacingRow = new QHBoxLayout;
    for (QLineEdit *field : {spacingX_, spacingY_, spacingZ_})
        spacingRow->addWidget(field);
    form->addRow(tr("Spacing"), spacingRow);
    implied_ = new QLabel(this);
    implied_->setObjectName(QStringLiteral("rawImplied_"));
    implied_->setWordWrap(true);
    form->addRow(implied_);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons_->addButton(tr("Import"), QDialogButtonBox::AcceptRole);
    form->addRow(buttons_);

    connect(choose, &QPushButton::clicked, this, &RawImportDialog::chooseFile);
    for (QLineEdit *field : {width_, height_, slices_, header_, spacingX_, spacingY_, spacingZ_})
        connect(field, &QLineEdit::textChanged, this, &RawImportDialog::recheck);
    connect(type_, &QComboBox::currentIndexChanged, this, &RawImportDialog::recheck);
    connect(buttons_, &QDialogButtonBox::accepted, this, &RawImportDialog::importFile);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    recheck();
}

void RawImportDialog::setFile(const QString &file)
{
    file_ = file;
    fileName_->setText(QFileInfo(file).fileName());
    fileName_->setToolTip(file);
    const QFileInfo info(file);
    fileSize_ = info.isFile() ? info.size() : -1;
    RawDescription remembered;
    if (rawimport::recall(file, remembered))
        setDescription(remembered);
    recheck();
}

QString RawImportDialog::file() const
{
    return file_;
}

void RawImportDialog::setDescription(const RawDescription &d)
{
    width_->setText(QString::number(d.width));
    height_->setText(QString::number(d.height));
    slices_->setText(QString::number(d.depth));
    type_->setCurrentIndex(type_->findData(int(d.type)));
    order_->setCurrentIndex(d.bigEndian ? 1 : 0);
    header_->setText(QString::number(d.headerBytes));
    spacingX_->setText(QString::number(d.spacing.x, 'g', 17));
    spacingY_->setText(QString::number(d.spacing.y, 'g', 17));
    spacingZ_->setText(QString::number(d.spacing.z, 'g', 17));
    recheck();
}

bool RawImportDialog::description(RawDescription &d) const
{
    RawDescription r;
    qint64 w = 0, h = 0, depth = 0;
    const qint64 most = std::numeric_limits<int>::max();
    if (!wholeNumber(width_, 1, most, w) || !wholeNumber(height_, 1, most, h) || !wholeNumber(slices_, 1, most, depth)
        || !wholeNumber(header_, 0, std::numeric_limits<qint64>::max(), r.headerBytes)
        || !positiveNumber(spacingX_, r.spacing.x) || !positiveNumber(spacingY_, r.spacing.y)
        || !positiveNumber(spacingZ_, r.spacing.z))
        return false;
    r.width = int(w);
    r.height = int(h);
    r.depth = int(depth);
    r.type = SampleType(type_->currentData().toInt());
    r.bigEndian = order_->currentData().toBool();
    if (r.fileBytes() < 0)
        return false;
    d = r;
    return true;
}

bool RawImportDialog::fits() const
{
    RawDescription d;
    return fileSize_ >= 0 && description(d) && d.fileBytes() == fileSize_;
}

QString RawImportDialog::verdict() const
{
    return implied_->text();
}

void RawImportDialog::recheck()
{
    RawDescription d;
    QString text;
    if (!description(d)) {
        text = tr("Width, height and slices are whole numbers from 1, the header bytes from 0, and the spacing "
                  "positive numbers.");
    } else {
        text = tr("%1 × %2 × %3 samples of %4 bytes after %5 header bytes: %6 bytes.")
                   .arg(d.width)
                   .arg(d.height)
                   .arg(d.depth)
                   .arg(sampleTypeBytes(d.type))
                   .arg(d.headerBytes)
                   .arg(d.fileBytes());
        if (fileSize_ < 0)
            text += QLatin1Char(' ') + tr("Choose the file.");
        else if (d.fileBytes() == fileSize_)
            text += QLatin1Char(' ') + tr("The file has %1 bytes: they match.").arg(fileSize_);
        else
            text += QLatin1Char(' ') + tr("The file has %1 bytes: they do not match.").arg(fileSize_);
    }
    implied_->setText(text);
    for (QAbstractButton *b : buttons_->buttons())
        if (buttons_->buttonRole(b) == QDialogButtonBox::AcceptRole)
            b->setEnabled(fits());
}

void RawImportDialog::chooseFile()
{
    if (chooser_)
        chooser_->deleteLater();
    chooser_ = new QFileDialog(this, tr("Choose a Raw File"), file_.isEmpty() ? folder_ : QFileInfo(file_).path());
    chooser_->setFileMode(QFileDialog::ExistingFile);
    chooser_->setOption(QFileDialog::DontUseNativeDialog, true);
    connect(chooser_, &QFileDialog::fileSelected, this, &RawImportDialog::setFile);
    chooser_->show();
}

void RawImportDialog::importFile()
{
    RawDescription d;
    if (!fits() || !description(d))
        return;
    rawimport::remember(file_, d);
    emit imported(file_);
    accept();
}

// A panel's "Import Raw…": the dialog, which loads the file it describes into this
// panel's set as the file dialog's selection does.
void SlicesCtrl::showImportRawD()
{
    if (rawDialog)
        rawDialog->deleteLater();
    rawDialog = new RawImportDialog(dataRoot, this);
    connect(rawDialog, &RawImportDialog::imported, this, [this](const QString &file) {
        QMetaObject::invokeMethod(&sliceDatas, "filesSelected", Qt::QueuedConnection,
                                  Q_ARG(QStringList, QStringList{file}));
    });
    rawDialog->show();
}
