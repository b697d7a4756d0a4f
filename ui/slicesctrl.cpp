#include "ui/slicesctrl.h"

SlicesCtrl::SlicesCtrl(QString dataRoot_, QWidget *parent) : QFrame(parent), dataRoot(dataRoot_)
{
    setupUi(this);
    histMouse = &dispH_->mouse;
    histCoord = &dispH_->coord;
}
SlicesCtrl::~SlicesCtrl() {}
double SlicesCtrl::rMinV() const { return rMinV_->text().toDouble(); }
double SlicesCtrl::rMaxV() const { return rMaxV_->text().toDouble(); }
double SlicesCtrl::minThV() const { return minTh_->text().toDouble(); }
double SlicesCtrl::maxThV() const { return maxTh_->text().toDouble(); }
double SlicesCtrl::minThPC() const { return minThPC_->text().toDouble(); }
double SlicesCtrl::maxThPC() const { return maxThPC_->text().toDouble(); }
int SlicesCtrl::alpha() const { return alpha_->text().toInt(nullptr, 10); }
void SlicesCtrl::setVColor(QColor col) { vColor = col; }
void SlicesCtrl::setSColor(QColor col) { sColor = col; }
void SlicesCtrl::setSetupNo(int n) { Q_UNUSED(n); }
void SlicesCtrl::setAlpha(int a) { alpha_->setText(QString::number(a)); }
void SlicesCtrl::setMinThPC(double, bool) {}
void SlicesCtrl::setMaxThPC(double, bool) {}
void SlicesCtrl::setMinThV(double, bool) {}
void SlicesCtrl::setMaxThV(double, bool) {}
void SlicesCtrl::setRMinV(double x) { rMinV_->setText(QString::number(x, 'g', 6)); }
void SlicesCtrl::setRMaxV(double x) { rMaxV_->setText(QString::number(x, 'g', 6)); }
void SlicesCtrl::initNz(Vec3 nz) { csNz = nz; }
void SlicesCtrl::newNz(Vec3 nz) { if (!csFixDir_->isChecked()) csNz = nz; }
void SlicesCtrl::fixupAlpha() {}
void SlicesCtrl::updatedMinThPC() {}
void SlicesCtrl::updatedMaxThPC() {}
void SlicesCtrl::updatedMinTh() {}
void SlicesCtrl::updatedMaxTh() {}
void SlicesCtrl::showHide(bool f) { Q_UNUSED(f); }
void SlicesCtrl::selectFiles() {}
void SlicesCtrl::selectVColor() {}
void SlicesCtrl::selectSColor() {}
void SlicesCtrl::noticedLoadedNewFile(QString fname) { Q_UNUSED(fname); }
void SlicesCtrl::noticedLoadFilesFinished() {}
void SlicesCtrl::datasCleared() {}
