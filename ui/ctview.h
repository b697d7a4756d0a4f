#ifndef CTVIEW_H
#define CTVIEW_H

#include <QColor>
#include <QFrame>
#include <QFutureWatcher>
#include <QImage>
#include <QPainter>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

#include "render/measure.h"
#include "render/scene.h"
#include "render/sliceview.h"
#include "render/vec3.h"
#include "ui_ctview.h"

class ChCoord;
class MouseC;
class QCheckBox;
class QLabel;
class SliceViewWidget;
class MeasurePanel;
class QCloseEvent;
class QComboBox;
class QFileDialog;
class QMessageBox;
class QSettings;
class QTimer;
class SetSpace;
struct Session;
class SlicesCtrl;
namespace render {
class Renderer;
}

// The main window: the picture display, the control row and the column of
// slice-set panels. Owns the panels, the view state and the rendered picture.
// Lives on the entry point's stack; GUI thread only.
class CtView : public QFrame, public Ui_CtView
{
    Q_OBJECT
    Q_MOC_INCLUDE("ui/slicesctrl.h")
public:
    explicit CtView(QString dataRoot = "", QWidget *parent = nullptr);
    ~CtView() override;

    QString dataRoot;
    QList<SlicesCtrl *> sCtrls;
    MouseC *dispMouse = nullptr;
    double lastX = 0.0;
    double lastY = 0.0;
    ChCoord *dispCoord = nullptr;
    int dragMode = 2;
    int rotKind = 0;
    QImage pImg;
    double scale = 1.0;
    Vec3 nx{1.0, 0.0, 0.0};
    Vec3 ny{0.0, 1.0, 0.0};
    Vec3 nz{0.0, 0.0, 1.0};
    Vec3 center;
    QStringList imgFormats;
    bool nativeDialog = false;
    QFileDialog *saveDialog = nullptr;
    QString saveDir;
    QMessageBox *aboutBox = nullptr;
    // The picture's background colour (white or black), made by the constructor.
    QComboBox *background_ = nullptr;
    QColor backgroundColor() const;
    void setBackgroundColor(const QColor &c);
    // "Save Image" writes the shown picture at 1, 2 or 4 times its pixels, the zoom
    // scaled with it. Made by the constructor.
    QComboBox *saveScale_ = nullptr;
    // The overlays: scale bar, directions at the edges, colour bars. Made by the constructor.
    QCheckBox *scaleBar_ = nullptr;
    QCheckBox *orientation_ = nullptr;
    QCheckBox *colorBar_ = nullptr;
    Overlays overlays() const;
    void setOverlays(const Overlays &o);
    int saveScale() const;
    // The scene of the shown picture at n times its pixels: the same view, the zoom
    // divided by n, the frames centred on the picture as drawn, n times larger.
    Scene scaledScene(int w, int h, int n) const;

    // Adds one slice-set panel below the others. Panels are numbered and coloured
    // in the order they were made; removing one leaves the others as they are.
    void addSliceSet();
    // Removes a panel other than the first: it leaves the window and the picture at
    // once; its loader is told to stop, and the panel with its set is deleted when the
    // loader thread has ended, so the window never waits for a decode in progress.
    void removeSliceSet(SlicesCtrl *s);
    // Tells every panel's loader to stop and waits at most msecs for all of them;
    // false when one is still busy (a decode that cannot be interrupted).
    bool stopLoaders(int msecs);
    // Waits until every picture still being written in the background is written;
    // those writes read the sets, so a set is not freed before.
    void finishSaves();
    // The typed picture size; 0 when the text is not a base-10 int.
    int imgPixWidth() const;
    int imgPixHeight() const;

    // The view, one panel's layer and the whole scene as the controls say now,
    // for a picture of pw x ph pixels.
    SceneView view() const;
    SceneLayer layerOf(const SlicesCtrl *s) const;
    Scene scene(int pw, int ph) const;
    // Every set's files and settings, the view, the picture size and the link state.
    Session currentSession() const;

    // Session files. Both report a failure in a message box (and the log) and
    // return false; a session that cannot be read changes nothing. Opening
    // rebuilds the panels and loads the files; sessionOpened() follows once every
    // set is loaded and restored.
    bool saveSession(const QString &fname);
    bool openSession(const QString &fname);

    // Settings a user sets once (window geometry, picture size, sampling, the two
    // view ticks, the last folders, the descriptions of imported raw files), kept
    // between runs by the entry point. The
    // folders are taken only when the configuration and the command line name no
    // data root, which then wins.
    void restoreSettings(const QSettings &settings, bool foldersFromSettings);
    void storeSettings(QSettings &settings) const;

    // Views: "Fit" (the direction kept, every set filling the picture), a look along
    // the stack (0), from the side (1) or from above (2), each fitted, the same from
    // the side or above with "Voxels" sampling (keys 2 and 3), and the initial view
    // of one voxel per picture pixel.
    void fitView();
    void lookAlong(int side);
    void lookFromSide(int side);
    void resetView();

    // The views shown (render/sliceview.h).
    ViewsLayout viewsLayout() const;
    void setViewsLayout(ViewsLayout layout);
    // The one crosshair point of every view, in the sets' unit.
    Vec3 crosshair() const { return crosshair_; }
    void setCrosshair(const Vec3 &p);
    // The slice views along the stack, across columns and across rows.
    SliceViewWidget *sliceView(int i) const { return sliceViews_[i]; }
    // Moves the crosshair to the voxel that gives picture pixel (c, r) its colour in
    // the first set that shows something there; false when none does.
    bool pickAt(int c, int r);
    // The measurements of the slice views, in the order they were made.
    const std::vector<Measurement> &measurements() const { return measurements_; }
    void setMeasurements(const std::vector<Measurement> &ms);

signals:
    void initNz(Vec3 nz);
    void newNz(Vec3 nzv);
    void finishing();
    void sessionOpened();
    // After every save of a picture: ok, or the reason it was not written.
    void imageSaved(QString fname, bool ok, QString error);
    // After every redraw of the picture (one that made a null picture too).
    void pictureDrawn();

private slots:
    void updateNvs(Vec3 rax, double th);
    void changedSliderStat();
    void paintPImg();
    void paintPImg0(QPainter &p, int pw, int ph);
    void paintADataSet(QPainter &p, SlicesCtrl *sCtrl, int sw, int sh, int pw, int ph);
    void paintADataFrame(QPainter &p, int ss, int sw, int sh, bool temae, QColor color);
    void draw(QPainter *p);
    void mousePressedOnDataDisp();
    void mouseMovedOnDataDisp();
    void mouseReleasedOnDataDisp();
    void wheelMovedOnDataDisp(int step);
    void showSaveImageD();
    void saveImage(QString fname);
    void showSaveSessionD();
    void showOpenSessionD();
    void showAboutD();

protected:
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    void showSessionMessage(const QString &text);
    void setDirection(const Vec3 &x, const Vec3 &y, const Vec3 &z);
    // With "Picture follows window": the picture size becomes the display's in device pixels.
    void followWindowSize();
    void reportSave(const QString &fname, const QString &why);

    // The slice views, the crosshair and the read-out under the pointer (ctviewslices.cpp).
    void makeSliceViews();
    // Hands every slice view the layers to draw (after each redraw of the picture).
    void updateSliceViews();
    void showReadout(const Vec3 &p, bool inside);
    void showPickReadout(int c, int r);
    // The crosshair's marker over the picture, in display pixels.
    void drawCrosshairMarker(QPainter *p);
    QWidget *viewArea_ = nullptr;
    QComboBox *views_ = nullptr;
    QCheckBox *showCrosshair_ = nullptr;
    QLabel *readout_ = nullptr;
    SliceViewWidget *sliceViews_[3] = {nullptr, nullptr, nullptr};
    Vec3 crosshair_;
    MeasurePanel *measurePanel_ = nullptr;
    std::vector<Measurement> measurements_;
    int measuresMade_ = 0;
    // The sets and generations the measurements' figures were last worked out for.
    std::vector<std::pair<const void *, quint64>> measuredSets_;
    QFileDialog *csvDialog = nullptr;
    // Shows the measurements in the panel and the slice views; their figures are
    // worked out again only when `recount` or the sets changed.
    void refreshMeasurements(bool recount);
    void addMeasurement(Measurement m);
    void exportMeasurements(const QString &fname);

    QMessageBox *saveMessage = nullptr;
    QList<QFutureWatcher<QString> *> pendingSaves;

    QFileDialog *sessionDialog = nullptr;
    QMessageBox *sessionMessage = nullptr;
    // The panels whose session load has not finished yet; their redraw requests are
    // left out until the last one is done (sessionLoadDone). Opening a session
    // counts a new generation, so the loads of one opened before are not waited for.
    QSet<const SlicesCtrl *> sessionLoads_;
    int sessionGeneration_ = 0;
    void sessionLoadDone(const SlicesCtrl *c);
    // Takes a panel other than the first out of the window and stops its loader,
    // without redrawing; false for the first panel or one not in the window.
    bool detachSliceSet(SlicesCtrl *s);
    // Keeps the panel column's scroll area as tall as its panels, but never taller,
    // and at least as tall as the first panel, so the picture keeps the rest.
    void fitPanelColumn();
    int setsMade_ = 0;

    // Drags on big sets: while a button is held and the last exact frame, scaled to
    // the picture size, took longer than coarseFrameMs, sets of more than
    // coarseMinVoxels values are drawn from coarse copies; the release draws exactly.
    bool coarseWanted(int pw, int ph) const;
    // Draws every picture of the window and keeps what drawing derives from the sets.
    std::unique_ptr<render::Renderer> renderer_;
    // The space every panel's set is drawn in: volumes whose axes point other ways
    // than those of a set already there are refused.
    std::shared_ptr<SetSpace> space_;
    bool coarseDrag_ = true;  // the `coarse_drag` key
    qint64 coarseMinVoxels_ = qint64(1) << 26;
    double coarseFrameMs_ = 40.0;
    double exactMs_ = 0.0;  // the last frame drawn exactly, and its size
    qint64 exactPixels_ = 0;
    bool coarseShown_ = false;  // the picture is a coarse one

    // Sets with finer levels in chunks (ctviewstream.cpp): the picture is drawn first
    // from the level their slices hold; once the view has been still for a moment it
    // is drawn again in the background at the level the view calls for, the chunks
    // not yet in drawn from coarser levels and asked for, and again as they come in.
    // Only the newest view's picture is shown, always whole.
    void scheduleRefinement();
    void startRefinement();
    void refinementDone();
    // Waits for a background drawing to end (before panels or the window go).
    void finishRefinement();
    bool refinementWanted() const;
    // Tells the panels of sets with finer levels which level the picture on screen
    // draws them at: the one their slices hold, or (refined) the one the view calls for.
    void showDrawnLevels(bool refined);
    QTimer *refineTimer_ = nullptr;
    QFutureWatcher<QImage> *refineWatcher_ = nullptr;
    int refineGeneration_ = 0;  // counts the views; a drawing of an older one is dropped
    int refineStarted_ = -1;  // the view the running drawing is of
    bool refineAgain_ = false;  // chunks came in while it ran
    int refineRounds_ = 0;  // drawings of the same view, bounded
    qint64 refineMissing_ = -1;  // chunks the last one lacked

    // Tests reach the private slots through this one door.
    friend struct CtViewTestAccess;
};

// Hands files to the first panel's loader the way its file dialog does: queued
// to the set's filesSelected in the loader thread, so that the panel hears
// cleared, loadedNewFile and loadFilesFinished as after a dialog. Nothing
// happens for an empty list.
void loadSliceFilesAtStart(CtView &w, const QStringList &files);

#endif
