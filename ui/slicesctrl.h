#ifndef SLICESCTRL_H
#define SLICESCTRL_H

#include <QColor>
#include <QPainter>
#include <QFrame>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include "data/slicedatas.h"
#include "render/layersettings.h"
#include "render/vec3.h"
#include "ui_slicesctrl.h"

class ChCoord;
class MouseC;
class QCheckBox;
class QDialog;
class QColorDialog;
class QComboBox;
class QDialog;
class HistogramView;
namespace render {
struct ValueWindow;
}
class QFileDialog;
class QInputDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class RawImportDialog;

// The control panel of one slice set: file selection, range, thresholds,
// colours, opacity, show switches, cross-section and histogram. Owned by
// CtView; owns its SliceDatas and the loader thread the set lives in, which
// it interrupts, quits and joins when it goes. GUI thread.
class SlicesCtrl : public QFrame, public Ui_SlicesCtrl
{
    Q_OBJECT
public:
    explicit SlicesCtrl(QString dataRoot = "", QWidget *parent = nullptr);
    ~SlicesCtrl() override;

    QString dataRoot;
    bool nativeDialog = false;
    QFileDialog *fileDialog = nullptr;
    // "Open Folder…": every slice file of one folder, or the one DICOM series of it
    // the user picks when it holds several.
    QPushButton *openFolder_ = nullptr;
    QFileDialog *folderDialog = nullptr;
    QDialog *seriesDialog = nullptr;
    // "Open Address…": an OME-Zarr image at an http:// or https:// address.
    QPushButton *openAddress_ = nullptr;
    QInputDialog *addressDialog = nullptr;
    QColorDialog *vColorDialog = nullptr;
    QColorDialog *sColorDialog = nullptr;
    RawImportDialog *rawDialog = nullptr;
    SliceDatas sliceDatas;
    QThread loaderThread;
    Vec3 csNz;
    QColor vColor = QColor(0, 127, 127);
    QColor sColor = QColor(127, 0, 0);
    MouseC *histMouse = nullptr;
    // Removes the panel from the window; hidden unless the window shows it (not on
    // the first panel).
    QToolButton *closeB_ = nullptr;
    ChCoord *histCoord = nullptr;
    int dragLine = -1;

    // The texts of the fields, parsed anew at every call (0 when not a number); a
    // field that still shows the text the panel wrote into it gives the exact number
    // that text was made from.
    double rMinV() const;
    double rMaxV() const;
    double minThV() const;
    double maxThV() const;
    double minThPC() const;
    double maxThPC() const;
    int alpha() const;
    // The file dialog's filters: first every kind of slice file the program reads,
    // then the grid and PNG files, then any file (DICOM files often have no suffix).
    static QStringList sliceFileFilters();

    // The files of the set as loaded, in stack order.
    QStringList acceptedFiles() const;

    // Every setting of the set as the panel's fields and switches hold it now, read
    // through the accessors above.
    LayerSettings settings() const;
    // Shows s in every field and switch without emitting anything: the numbers, the
    // spacing among them, with six significant digits and the exact values kept
    // behind them.
    void setSettings(const LayerSettings &s);

    void setVColor(QColor col);
    void setSColor(QColor col);
    void setSetupNo(int n);
    void setAlpha(int a);

    // Threshold setters: write the field ('g', 6 digits), derive the partner
    // unless quiet, emit paintPImg and repaint the histogram.
    void setMinThPC(double pc, bool quiet);
    void setMaxThPC(double pc, bool quiet);
    void setMinThV(double v, bool quiet);
    void setMaxThV(double v, bool quiet);
    void setRMinV(double x);
    void setRMaxV(double x);

    // The voxel spacing in the three spacing fields (column, row and slice step);
    // a field that does not hold a positive number reads as 1. The fields take the
    // spacing of the files after each load that accepted a file.
    Spacing spacing() const;
    void setSpacing(const Spacing &s);

    // The set's line under the file list ("24 slices · 128 × 96 · 0.5 × 0.5 × 2 mm"),
    // the skipped-files line with its tool tip, the spacing fields, and the progress
    // bar with its Cancel button, shown while a load runs. Made by the constructor.
    QLabel *setInfo_ = nullptr;
    QLabel *skippedInfo_ = nullptr;
    // Draws the histogram's counts on a logarithmic scale, so one large bin (the
    // background) no longer flattens the others.
    QCheckBox *logHist_ = nullptr;
    // Beside the cross-section slider: the slice the cut crosses and its distance
    // from the middle of the set.
    QLabel *cutInfo_ = nullptr;
    QLineEdit *spacingX_ = nullptr;
    QLineEdit *spacingY_ = nullptr;
    QLineEdit *spacingZ_ = nullptr;
    QProgressBar *loadProgress_ = nullptr;
    QPushButton *cancelLoad_ = nullptr;
    // "Import Raw…": describes a raw file of samples and loads it (ui/rawimport.cpp).
    QPushButton *importRaw_ = nullptr;

    // The row of drawing choices, made by the constructor: the colour map and its
    // gamma (a field that is not a gamma the drawing takes reads as 1).
    QComboBox *colorMap_ = nullptr;
    QLineEdit *gamma_ = nullptr;
    ColorMap colorMap() const;
    double gamma() const;
    // What is drawn at the top of the window; window presets (a choice sets the
    // window and the list shows its title again), the automatic window, the larger
    // histogram in a window of its own (made on first use).
    QComboBox *aboveTop_ = nullptr;
    QComboBox *windowPreset_ = nullptr;
    QPushButton *autoWindow_ = nullptr;
    QPushButton *bigHist_ = nullptr;
    QDialog *histDialog = nullptr;
    HistogramView *histView = nullptr;
    AboveWindow aboveWindow() const;
    // The projection, and the opacity curve of Composite (shaped on the larger
    // histogram; setting it asks for a redraw).
    QComboBox *projection_ = nullptr;
    Projection projection() const;
    QComboBox *interpolation_ = nullptr;
    Interpolation interpolation() const;
    const OpacityCurve &opacityCurve() const { return opacity_; }
    void setOpacityCurve(const OpacityCurve &c);
    // Sets both window ends in data units, each deriving its percentage.
    void applyWindow(const render::ValueWindow &w);
    // The window from 0.5 % to 99.5 % of the set's values; nothing before a load.
    void setAutoWindow();
    void showBigHistogram();
    // A set with finer levels in chunks: the level the picture on screen draws it at
    // (-1 keeps the one shown) and, from the stream, how much of it is in memory now.
    void showDrawnLevel(int level = -1);

signals:
    void changedSliderStat();
    void paintPImg();

public slots:
    void initNz(Vec3 nz);
    void newNz(Vec3 nz);

private slots:
    void fixupAlpha();
    void updatedMinThPC();
    void updatedMaxThPC();
    void updatedMinTh();
    void updatedMaxTh();
    void showHide(bool f);
    void selectFiles();
    void selectFolder();
    void folderSelected(const QString &dir);
    void selectAddress();
    void addressSelected(const QString &address);
    void selectVColor();
    void selectSColor();
    void noticedLoadedNewFile(QString fname);
    void noticedLoadFilesFinished();
    void datasCleared();
    void drawHist(QPainter *p);
    void mousePressedOnDispH();
    void mouseMovedOnDispH();
    void mouseReleasedOnDispH();
    void pollLoadProgress();
    void cancelLoading();
    void updateSetInfo();
    void showImportRawD();

private:
    void makeSetInfo();
    void makeOpenFolder();
    // Hands files to the set's loader, as the file dialog does.
    void loadFiles(const QStringList &files);
    void makeDrawingRow();
    // Shows the drawing choices of s in the row's controls without emitting anything.
    void showDrawing(const LayerSettings &s);
    // Tool tips of the form's controls, and field widths that show six significant digits.
    void explainControls();
    void showSkipped(const QList<SkippedFile> &skipped);

    QTimer progressTimer;
    QStringList listedFiles;  // the files of nameList_, in the order they were listed
    QString spacingUnit;  // of the last load that accepted a file
    bool hasSlices = false;
    int sliceCount = 0;
    int sliceWidth = 0;
    int sliceHeight = 0;
    qint64 volumeCount = 1;  // volumes in the set's file; the first is loaded
    VolumeInfo levelsShown;  // of a multi-resolution volume: which level of how many
    // Its finer levels in chunks, kept to tell how much of it is in memory; null for
    // every other set.
    std::shared_ptr<StreamedVolume> streamShown;
    StackingNote stacking;  // how the last load ordered a DICOM series, when not by position

    // The derivations between a threshold and its percentage, through the
    // range fields as they read now.
    double valueFromPercent(double pc) const;
    double percentFromValue(double v) const;

    // Every number written into a field carries at most six significant digits.
    static QString fieldText(double x);
    // Writes x ('g', 6 digits) and remembers it exactly behind that text.
    void writeField(QLineEdit *edit, double x);
    double fieldValue(const QLineEdit *edit) const;
    struct WrittenNumber {
        QString text;
        double value;
    };
    QHash<const QLineEdit *, WrittenNumber> written_;
    OpacityCurve opacity_;

    // Tests reach the private slots through this one door.
    friend struct SlicesCtrlTestAccess;
};

#endif
