#ifndef RAWIMPORT_H
#define RAWIMPORT_H

#include <QDialog>
#include <QString>

#include "data/rawvolume.h"

class QComboBox;
class QDialogButtonBox;
class QFileDialog;
class QLabel;
class QLineEdit;

// "Import Raw…": the description of a raw file of samples (width, height, slices,
// data type, byte order, header bytes to skip, spacing), checked against the file's
// size as it is typed; the dialog shows the size the numbers imply and accepts only
// a description that matches the file. A file's remembered description is filled
// in when the file is chosen. Non-modal, owned by its panel, GUI thread.
class RawImportDialog : public QDialog
{
    Q_OBJECT
public:
    explicit RawImportDialog(const QString &folder, QWidget *parent = nullptr);

    // The file to describe: the remembered description (rawimport::recall) fills the
    // fields when there is one.
    void setFile(const QString &file);
    QString file() const;
    // Shows d in the fields.
    void setDescription(const RawDescription &d);
    // The fields as they read now; false when one does not hold a valid number.
    bool description(RawDescription &d) const;
    // The fields describe the chosen file exactly (its size is what they imply).
    bool fits() const;
    // The line that says what the numbers imply and whether the file agrees.
    QString verdict() const;

signals:
    // After "Import": the description is remembered (rawimport::remember) and the
    // file is to be loaded.
    void imported(QString file);

private slots:
    void chooseFile();
    void recheck();
    void importFile();

private:
    QString folder_;
    QString file_;
    qint64 fileSize_ = -1;
    QLineEdit *fileName_ = nullptr;
    QLineEdit *width_ = nullptr;
    QLineEdit *height_ = nullptr;
    QLineEdit *slices_ = nullptr;
    QComboBox *type_ = nullptr;
    QComboBox *order_ = nullptr;
    QLineEdit *header_ = nullptr;
    QLineEdit *spacingX_ = nullptr;
    QLineEdit *spacingY_ = nullptr;
    QLineEdit *spacingZ_ = nullptr;
    QLabel *implied_ = nullptr;
    QDialogButtonBox *buttons_ = nullptr;
    QFileDialog *chooser_ = nullptr;
};

#endif
