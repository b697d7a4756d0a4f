#ifndef CTVIEW_H
#define CTVIEW_H

#include <QColor>
#include <QFrame>
#include <QImage>
#include <QPainter>
#include <QList>
#include <QString>
#include <QStringList>

#include "render/vec3.h"
#include "ui_ctview.h"

class ChCoord;
class MouseC;
class QCloseEvent;
class QFileDialog;
class QMessageBox;
class SlicesCtrl;

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

    // Adds one slice-set panel below the others.
    void addSliceSet();
    // The typed picture size; 0 when the text is not a base-10 int.
    int imgPixWidth() const;
    int imgPixHeight() const;

signals:
    void initNz(Vec3 nz);
    void newNz(Vec3 nzv);
    void finishing();

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
    void showAboutD();

protected:
    void closeEvent(QCloseEvent *e) override;

private:
    // Tests reach the private slots through this one door.
    friend struct CtViewTestAccess;
};

#endif
