#include <QAtomicInt>
#include <QCheckBox>
#include <QColorDialog>
#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include "panelfixtures.h"
#include "ui/ctview.h"
#include "ui/slicesctrl.h"

struct CtViewTestAccess {
    static void changedSliderStat(CtView &w) { w.changedSliderStat(); }
};

namespace {

QColor swatchColor(const QLabel *label)
{
    const QPixmap pm = label->pixmap();
    return pm.isNull() ? QColor() : pm.toImage().pixelColor(pm.width() / 2, pm.height() / 2);
}

// Marks every text it is asked for with its context, so a test can see that a
// text went through translation and in which context.
class MarkingTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char * = nullptr, int = -1) const override
    {
        return QStringLiteral("{%1}").arg(QLatin1String(context)) + QString::fromUtf8(sourceText);
    }
    bool isEmpty() const override { return false; }
};

// Counts the redraws of a window: every redraw makes a new picture.
struct RedrawProbe {
    const CtView &w;
    qint64 lastKey;
    explicit RedrawProbe(const CtView &view) : w(view), lastKey(view.pImg.cacheKey()) { }
    bool redrawnSinceLastLook()
    {
        const qint64 key = w.pImg.cacheKey();
        const bool changed = key != lastKey;
        lastKey = key;
        return changed;
    }
};

}  // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void firstPanel();
    void addedPanels_data();
    void addedPanels();
    void panelRedrawReachesWindow();
    void linkedSliders();
    void unlinkedSliders();
    void fixDirKeepsNormal();
    void textsAreTranslated();
    void destroyDuringLongLoad();
    void destroyWithOpenDialogs();
    void removePanel_data();
    void removePanel();
    void stopLoadersIsBounded();
    void manyPanelsKeepThePicture();
};

void TestMainWindow::firstPanel()
{
    CtView w("/data");
    QCOMPARE(w.sCtrls.size(), 1);
    SlicesCtrl *p = w.sCtrls.first();
    QCOMPARE(p->showB_->text(), QStringLiteral("Show Setup 1"));
    QCOMPARE(p->showB2_->text(), QStringLiteral("Show Setup 1"));
    QCOMPARE(p->alpha_->text(), QStringLiteral("255"));
    QCOMPARE(p->vColor, QColor(0, 127, 127));
    QCOMPARE(p->sColor, QColor(127, 0, 0));
    QCOMPARE(swatchColor(p->dispVColor_), QColor(0, 127, 127));
    QCOMPARE(p->csNz.x, 0.0);
    QCOMPARE(p->csNz.y, 0.0);
    QCOMPARE(p->csNz.z, 1.0);
    QCOMPARE(p->dataRoot, QStringLiteral("/data"));
    QCOMPARE(w.slicesCtrlsLayout_->itemAtPosition(0, 0)->widget(), p);
    QVERIFY(w.linkCSection_->isChecked());
}

void TestMainWindow::addedPanels_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QColor>("vColor");
    QTest::addColumn<QColor>("sColor");
    QTest::newRow("second") << 1 << QColor(127, 0, 127) << QColor(0, 127, 0);
    QTest::newRow("third") << 2 << QColor(127, 127, 0) << QColor(0, 0, 127);
    QTest::newRow("fourth, colours of the first") << 3 << QColor(0, 127, 127) << QColor(127, 0, 0);
}

void TestMainWindow::addedPanels()
{
    QFETCH(int, index);
    QFETCH(QColor, vColor);
    QFETCH(QColor, sColor);
    CtView w("/data");
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    QCOMPARE(w.sCtrls.size(), 4);
    SlicesCtrl *p = w.sCtrls.at(index);
    const QString caption = QStringLiteral("Show Setup %1").arg(index + 1);
    QCOMPARE(p->showB_->text(), caption);
    QCOMPARE(p->showB2_->text(), caption);
    QCOMPARE(p->alpha_->text(), QStringLiteral("128"));
    QCOMPARE(p->vColor, vColor);
    QCOMPARE(p->sColor, sColor);
    QCOMPARE(swatchColor(p->dispVColor_), vColor);
    QCOMPARE(swatchColor(p->dispSColor_), sColor);
    QCOMPARE(p->dataRoot, QStringLiteral("/data"));
    // A later panel does not get the current view normal.
    QCOMPARE(p->csNz.z, 0.0);
    QCOMPARE(w.slicesCtrlsLayout_->itemAtPosition(index, 0)->widget(), p);
    QVERIFY(p->loaderThread.isRunning());
    QCOMPARE(w.sCtrls.first()->alpha_->text(), QStringLiteral("255"));
}

void TestMainWindow::panelRedrawReachesWindow()
{
    CtView w;
    QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    RedrawProbe probe(w);
    for (SlicesCtrl *p : std::as_const(w.sCtrls)) {
        p->showFrame_->toggle();
        QVERIFY(probe.redrawnSinceLastLook());
        p->setMinThPC(10, false);
        QVERIFY(probe.redrawnSinceLastLook());
    }
}

void TestMainWindow::linkedSliders()
{
    CtView w;
    for (int i = 0; i < 3; ++i)
        QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    RedrawProbe probe(w);
    QSignalSpy links(w.sCtrls.at(2), &SlicesCtrl::changedSliderStat);

    w.sCtrls.at(1)->cSlider_->setValue(30);
    QVERIFY(probe.redrawnSinceLastLook());
    for (SlicesCtrl *p : std::as_const(w.sCtrls))
        QCOMPARE(p->cSlider_->value(), 30);
    QCOMPARE(links.count(), 1);  // written once, not again on the way back

    w.sCtrls.at(3)->csFixDir_->setChecked(true);
    QVERIFY(probe.redrawnSinceLastLook());
    for (SlicesCtrl *p : std::as_const(w.sCtrls))
        QVERIFY(p->csFixDir_->isChecked());

    // A slider move also carries the sender's "Fix Dir." state.
    w.sCtrls.at(2)->csFixDir_->blockSignals(true);
    w.sCtrls.at(2)->csFixDir_->setChecked(false);
    w.sCtrls.at(2)->csFixDir_->blockSignals(false);
    w.sCtrls.at(2)->cSlider_->setValue(-70);
    QVERIFY(probe.redrawnSinceLastLook());
    for (SlicesCtrl *p : std::as_const(w.sCtrls)) {
        QCOMPARE(p->cSlider_->value(), -70);
        QVERIFY(!p->csFixDir_->isChecked());
    }

    // Without a panel as sender the slot only redraws.
    CtViewTestAccess::changedSliderStat(w);
    QVERIFY(probe.redrawnSinceLastLook());
}

void TestMainWindow::unlinkedSliders()
{
    CtView w;
    QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    w.sCtrls.at(0)->cSlider_->setValue(10);  // linked: all at 10
    RedrawProbe probe(w);

    w.linkCSection_->setChecked(false);
    QVERIFY(!probe.redrawnSinceLastLook());
    // Unchecking undoes nothing.
    for (SlicesCtrl *p : std::as_const(w.sCtrls))
        QCOMPARE(p->cSlider_->value(), 10);

    w.sCtrls.at(1)->cSlider_->setValue(55);
    QVERIFY(probe.redrawnSinceLastLook());
    w.sCtrls.at(2)->csFixDir_->setChecked(true);
    QVERIFY(probe.redrawnSinceLastLook());
    QCOMPARE(w.sCtrls.at(0)->cSlider_->value(), 10);
    QCOMPARE(w.sCtrls.at(1)->cSlider_->value(), 55);
    QCOMPARE(w.sCtrls.at(2)->cSlider_->value(), 10);
    QVERIFY(!w.sCtrls.at(0)->csFixDir_->isChecked());
    QVERIFY(!w.sCtrls.at(1)->csFixDir_->isChecked());

    // Checking again copies nothing until something moves.
    w.linkCSection_->setChecked(true);
    QCOMPARE(w.sCtrls.at(0)->cSlider_->value(), 10);
    QCOMPARE(w.sCtrls.at(1)->cSlider_->value(), 55);
    w.sCtrls.at(0)->cSlider_->setValue(11);
    for (SlicesCtrl *p : std::as_const(w.sCtrls)) {
        QCOMPARE(p->cSlider_->value(), 11);
        QVERIFY(!p->csFixDir_->isChecked());
    }
}

void TestMainWindow::fixDirKeepsNormal()
{
    CtView w;
    QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    SlicesCtrl *first = w.sCtrls.at(0);
    SlicesCtrl *second = w.sCtrls.at(1);
    first->csFixDir_->click();
    QVERIFY(second->csFixDir_->isChecked());  // linked

    emit w.newNz(Vec3{1, 0, 0});
    QCOMPARE(first->csNz.z, 1.0);
    QCOMPARE(first->csNz.x, 0.0);
    QCOMPARE(second->csNz.x, 0.0);

    second->csFixDir_->click();
    QVERIFY(!first->csFixDir_->isChecked());
    emit w.newNz(Vec3{0, 1, 0});
    QCOMPARE(first->csNz.y, 1.0);
    QCOMPARE(first->csNz.z, 0.0);
    QCOMPARE(second->csNz.y, 1.0);
}

// Every text of both forms and of the panel's own captions, titles and filters
// goes through translation in the context of its class.
void TestMainWindow::textsAreTranslated()
{
    MarkingTranslator marker;
    QVERIFY(QCoreApplication::installTranslator(&marker));
    {
        CtView w;
        QCOMPARE(w.windowTitle(), QStringLiteral("{CtView}ctView"));
        QCOMPARE(w.addSliceSet_->text(), QStringLiteral("{CtView}Add Slice Set"));
        QVERIFY(w.saveImage_->toolTip().startsWith(QStringLiteral("{CtView}Supported File Types are : ")));
        SlicesCtrl *p = w.sCtrls.first();
        QCOMPARE(p->windowTitle(), QStringLiteral("{SlicesCtrl}Load Slices"));
        QCOMPARE(p->showB_->text(), QStringLiteral("{SlicesCtrl}Show Setup 1"));
        QVERIFY(p->label_8->whatsThis().startsWith(QStringLiteral("{SlicesCtrl}<html>")));
        QVERIFY(p->alpha_->whatsThis().startsWith(QStringLiteral("{SlicesCtrl}<html>")));
        const QList<QWidget *> texts = {p->showVolume_, p->showCSection_, p->showFrame_, p->label_7,    p->label_2,
                                        p->label_4,     p->label_5,       p->label_6,    p->label_3,    p->label,
                                        p->csFixDir_,   p->selectB_,      p->selVColor_, p->selSColor_, p->label_8};
        for (QWidget *t : texts) {
            const QString text = t->property("text").toString();
            QVERIFY2(text.startsWith(QStringLiteral("{SlicesCtrl}")), qPrintable(t->objectName() + ": " + text));
        }

        QTest::mouseClick(p->selectB_, Qt::LeftButton);
        QCOMPARE(p->fileDialog->windowTitle(), QStringLiteral("{SlicesCtrl}Select Data Files"));
        QCOMPARE(p->fileDialog->nameFilters().mid(1),
                 QStringList({"{SlicesCtrl}Data Files (*.dat *.png)",
                              "{SlicesCtrl}Volumes (*.nii *.nii.gz *.nrrd *.nhdr *.mha *.mhd)",
                              "{SlicesCtrl}Any Files (* *.*)"}));
        QVERIFY(p->fileDialog->nameFilters().first().startsWith(QStringLiteral("{SlicesCtrl}Slice Files (")));
        QTest::mouseClick(p->selVColor_, Qt::LeftButton);
        QCOMPARE(p->vColorDialog->windowTitle(), QStringLiteral("{SlicesCtrl}Select Volume Color"));
        QTest::mouseClick(p->selSColor_, Qt::LeftButton);
        QCOMPARE(p->sColorDialog->windowTitle(), QStringLiteral("{SlicesCtrl}Select Section Color"));
    }
    QCoreApplication::removeTranslator(&marker);
}

// Closing the program in the middle of a long load: the window's destruction
// stops each panel's loader after the file in progress.
void TestMainWindow::destroyDuringLongLoad()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QStringList files;
    for (int i = 0; i < 40; ++i) {
        files << dir.filePath(QStringLiteral("s%1.png").arg(i, 3, 10, QLatin1Char('0')));
        QVERIFY(fixtures::writeRampPng(files.last(), 16, 16, 0, 100 + i));
    }
    auto *w = new CtView(dir.path());
    QTest::mouseClick(w->addSliceSet_, Qt::LeftButton);
    SlicesCtrl *p = w->sCtrls.at(1);
    QAtomicInt accepted = 0;
    QAtomicInt sawInterruption = 0;
    // Runs in the loader thread: hold the load after its first file until the
    // window is being destroyed.
    connect(
        &p->sliceDatas, &SliceDatas::loadedNewFile, &p->sliceDatas,
        [&](const QString &) {
            if (accepted.fetchAndAddOrdered(1) == 0) {
                QDeadlineTimer deadline(30000);
                while (!QThread::currentThread()->isInterruptionRequested() && !deadline.hasExpired())
                    QThread::msleep(1);
                sawInterruption = QThread::currentThread()->isInterruptionRequested() ? 1 : 0;
            }
        },
        Qt::DirectConnection);
    QTest::mouseClick(p->selectB_, Qt::LeftButton);
    emit p->fileDialog->filesSelected(files);
    QTRY_COMPARE(p->nameList_->count(), 1);

    QSignalSpy finishing(w, &CtView::finishing);
    w->close();
    QCOMPARE(finishing.count(), 1);
    delete w;
    QCOMPARE(sawInterruption.loadAcquire(), 1);
    QVERIFY2(accepted.loadAcquire() < files.size(),
             qPrintable(QStringLiteral("%1 files loaded").arg(accepted.loadAcquire())));
}

void TestMainWindow::destroyWithOpenDialogs()
{
    auto *w = new CtView;
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    SlicesCtrl *p = w->sCtrls.first();
    QTest::mouseClick(p->selectB_, Qt::LeftButton);
    QTest::mouseClick(p->selVColor_, Qt::LeftButton);
    QTest::mouseClick(p->selVColor_, Qt::LeftButton);  // the first one is pending deletion
    QPointer<QFileDialog> fileDialog = p->fileDialog;
    QPointer<QColorDialog> colorDialog = p->vColorDialog;
    QVERIFY(fileDialog && colorDialog);
    delete w;
    QVERIFY(fileDialog.isNull());
    QVERIFY(colorDialog.isNull());
    QTest::qWait(1);  // the pending deferred deletion must not touch freed memory
}

namespace {
QStringList writeRamps(const QTemporaryDir &dir, int count)
{
    QStringList files;
    for (int i = 0; i < count; ++i) {
        files << dir.filePath(QStringLiteral("s%1.png").arg(i, 3, 10, QLatin1Char('0')));
        if (!fixtures::writeRampPng(files.last(), 16, 16, 0, 100 + i))
            return {};
    }
    return files;
}
}  // namespace

void TestMainWindow::removePanel_data()
{
    QTest::addColumn<bool>("loading");
    QTest::newRow("idle panel") << false;
    QTest::newRow("panel in the middle of a load") << true;
}

// The close button takes the panel out of the window and the picture at once; the
// panel and its set go when its loader has stopped, which the window never waits for.
void TestMainWindow::removePanel()
{
    QFETCH(bool, loading);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList files = writeRamps(dir, 40);
    QVERIFY(!files.isEmpty());
    CtView w(dir.path());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    QTRY_VERIFY(w.sCtrls.at(1)->closeB_->isVisible());
    QVERIFY(!w.sCtrls.at(0)->closeB_->isVisible());
    QPointer<SlicesCtrl> p = w.sCtrls.at(1);
    SlicesCtrl *third = w.sCtrls.at(2);

    QAtomicInt release = 0;
    QAtomicInt accepted = 0;
    QAtomicInt sawInterruption = 0;
    if (loading) {
        // Runs in the loader thread: hold the load after its first file until released.
        connect(
            &p->sliceDatas, &SliceDatas::loadedNewFile, &p->sliceDatas,
            [&](const QString &) {
                if (accepted.fetchAndAddOrdered(1) == 0) {
                    QDeadlineTimer deadline(30000);
                    while (!release.loadAcquire() && !deadline.hasExpired())
                        QThread::msleep(1);
                    sawInterruption = QThread::currentThread()->isInterruptionRequested() ? 1 : 0;
                }
            },
            Qt::DirectConnection);
        QVERIFY(fixtures::loadThroughDialog(*w.sCtrls.at(0), {files.first()}));
        QTest::mouseClick(p->selectB_, Qt::LeftButton);
        emit p->fileDialog->filesSelected(files);
        QTRY_COMPARE(p->nameList_->count(), 1);
    }

    RedrawProbe probe(w);
    QTest::mouseClick(p->closeB_, Qt::LeftButton);
    QVERIFY(probe.redrawnSinceLastLook());
    QCOMPARE(w.sCtrls, (QList<SlicesCtrl *>{w.sCtrls.at(0), third}));
    QCOMPARE(w.slicesCtrlsLayout_->indexOf(p.data()), -1);
    if (loading) {
        // Still loading: the panel waits, out of sight, for its loader.
        QVERIFY(!p.isNull());
        QVERIFY(!p->isVisible());
        QVERIFY(p->loaderThread.isInterruptionRequested());
        release = 1;
    }
    QTRY_VERIFY(p.isNull());
    if (loading) {
        QCOMPARE(sawInterruption.loadAcquire(), 1);
        QVERIFY(accepted.loadAcquire() < files.size());
    }

    // The others keep their numbers and colours; a new panel takes the next number.
    QCOMPARE(third->showB_->text(), QStringLiteral("Show Setup 3"));
    QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    QCOMPARE(w.sCtrls.size(), 3);
    QCOMPARE(w.sCtrls.last()->showB_->text(), QStringLiteral("Show Setup 4"));
    QCOMPARE(w.sCtrls.last()->vColor, QColor(0, 127, 127));
    // The first panel cannot be removed.
    w.removeSliceSet(w.sCtrls.first());
    QCOMPARE(w.sCtrls.size(), 3);
}

// Closing waits a bounded time for the loaders: a decode that ignores the request to
// stop is reported, not waited for.
void TestMainWindow::stopLoadersIsBounded()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList files = writeRamps(dir, 3);
    QVERIFY(!files.isEmpty());
    CtView w(dir.path());
    QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    SlicesCtrl *p = w.sCtrls.at(1);
    QAtomicInt release = 0;
    QAtomicInt held = 0;
    connect(
        &p->sliceDatas, &SliceDatas::loadedNewFile, &p->sliceDatas,
        [&](const QString &) {
            held = 1;
            QDeadlineTimer deadline(30000);
            while (!release.loadAcquire() && !deadline.hasExpired())
                QThread::msleep(1);
        },
        Qt::DirectConnection);
    QTest::mouseClick(p->selectB_, Qt::LeftButton);
    emit p->fileDialog->filesSelected(files);
    QTRY_COMPARE(held.loadAcquire(), 1);

    QVERIFY(!w.stopLoaders(50));
    QVERIFY(w.sCtrls.first()->loaderThread.isFinished());
    release = 1;
    QVERIFY(w.stopLoaders(30000));
}

// Fifty panels: the picture keeps its room and the last panel can be scrolled to.
void TestMainWindow::manyPanelsKeepThePicture()
{
    CtView w;
    w.resize(856, 934);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int pictureHeight = w.dispA_->height();
    const int windowHeight = w.height();
    for (int i = 0; i < 49; ++i)
        QTest::mouseClick(w.addSliceSet_, Qt::LeftButton);
    // The column follows the panels once they are shown.
    QTRY_VERIFY(w.slicesScroll_->maximumHeight() > 40 * w.sCtrls.first()->sizeHint().height());
    QCOMPARE(w.height(), windowHeight);
    // At least the picture's starting size of 256 pixels, and no less than half of what it had.
    QVERIFY2(w.dispA_->height() >= 256 && 2 * w.dispA_->height() >= pictureHeight,
             qPrintable(QStringLiteral("picture %1 px high, was %2").arg(w.dispA_->height()).arg(pictureHeight)));
    SlicesCtrl *last = w.sCtrls.last();
    w.slicesScroll_->ensureWidgetVisible(last);
    QTRY_VERIFY(!last->visibleRegion().isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
