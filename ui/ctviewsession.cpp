#include "ui/ctview.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QSignalBlocker>

#include <memory>

#include "app/messagenames.h"
#include "app/session.h"
#include "data/slicedatas.h"
#include "ui/slicesctrl.h"

Session CtView::currentSession() const
{
    Session s;
    s.view = view();
    s.width = imgPixWidth();
    s.height = imgPixHeight();
    s.linkCSection = linkCSection_->isChecked();
    s.views = viewsLayout();
    s.crosshair = crosshair_;
    s.measurements = measurements_;
    for (const SlicesCtrl *c : sCtrls) {
        SessionSet set{c->settings(), c->acceptedFiles(), {}};
        // A panel added after the window was built has no cut normal until the view
        // turns; its cut is saved facing the viewer, as the next turn would set it.
        const Vec3 &n = set.csNz;
        if (set.showCSection && n.x == 0.0 && n.y == 0.0 && n.z == 0.0)
            set.csNz = nz;
        s.sets.push_back(set);
        describeRawFiles(s.sets.back());
    }
    s.background = backgroundColor();
    s.overlays = overlays();
    return s;
}

void CtView::showSessionMessage(const QString &text)
{
    delete sessionMessage;
    sessionMessage = new QMessageBox(QMessageBox::Warning, tr("Session"), text, QMessageBox::Ok, this);
    sessionMessage->setModal(false);
    sessionMessage->show();
}

void CtView::showSaveSessionD()
{
    delete sessionDialog;
    sessionDialog = new QFileDialog(this, tr("Save Session"), saveDir, tr("Sessions (*.oxa)"));
    sessionDialog->setAcceptMode(QFileDialog::AcceptSave);
    sessionDialog->setDefaultSuffix(QStringLiteral("oxa"));
    if (!nativeDialog)
        sessionDialog->setOption(QFileDialog::DontUseNativeDialog, true);
    connect(sessionDialog, &QFileDialog::fileSelected, this, &CtView::saveSession);
    sessionDialog->show();
}

void CtView::showOpenSessionD()
{
    delete sessionDialog;
    sessionDialog = new QFileDialog(this, tr("Open Session"), saveDir, tr("Sessions (*.oxa);;Any Files (*)"));
    sessionDialog->setAcceptMode(QFileDialog::AcceptOpen);
    sessionDialog->setFileMode(QFileDialog::ExistingFile);
    if (!nativeDialog)
        sessionDialog->setOption(QFileDialog::DontUseNativeDialog, true);
    connect(sessionDialog, &QFileDialog::fileSelected, this, &CtView::openSession);
    sessionDialog->show();
}

bool CtView::saveSession(const QString &fname)
{
    QString why;
    if (!writeSessionFile(fname, currentSession(), &why)) {
        qWarning() << "session not saved:" << fname << why;
        showSessionMessage(tr("The session could not be saved to %1:\n%2").arg(messagenames::shown(fname), why));
        return false;
    }
    return true;
}

// The panels are made to match the session's sets, every setting that does not
// depend on the data is set at once, and each set's files go to its loader. The
// range and window are set when that load has finished, after the panel's own
// handling of it, so the picture comes back as it was saved. While the loads run,
// the redraws their panels ask for are left out and the display keeps the picture
// it had; the picture is drawn once, when the last load is done (a redraw per load
// would cost the square of the number of sets).
bool CtView::openSession(const QString &fname)
{
    Session s;
    QString why;
    if (!readSessionFile(fname, s, &why)) {
        qWarning() << "session not opened:" << fname << why;
        showSessionMessage(tr("The session %1 could not be opened:\n%2").arg(messagenames::shown(fname), why));
        return false;
    }
    saveDir = QFileInfo(fname).absolutePath();
    rememberRawFiles(s);

    while (sCtrls.size() > qsizetype(std::max<std::size_t>(s.sets.size(), 1)))
        detachSliceSet(sCtrls.last());
    while (sCtrls.size() < qsizetype(s.sets.size()))
        addSliceSet();

    imgPixWidth_->setText(QString::number(s.width));
    imgPixHeight_->setText(QString::number(s.height));
    linkCSection_->setChecked(s.linkCSection);
    crosshair_ = s.crosshair;
    setViewsLayout(s.views);
    setMeasurements(s.measurements);
    {
        const QSignalBlocker quiet(background_);
        setBackgroundColor(s.background);
    }
    setOverlays(s.overlays);
    nx = s.view.nx;
    ny = s.view.ny;
    nz = s.view.nz;
    center = s.view.center;
    scale = s.view.scale;
    {
        const QSignalBlocker quiet(sampling_);
        sampling_->setCurrentIndex(s.view.sampling == Sampling::Voxels ? 1 : 0);
    }

    // The loads of a session opened before are no longer waited for.
    const int generation = ++sessionGeneration_;
    sessionLoads_.clear();
    for (qsizetype i = 0; i < sCtrls.size(); ++i) {
        SlicesCtrl *c = sCtrls[i];
        const SessionSet set = i < qsizetype(s.sets.size()) ? s.sets[std::size_t(i)] : SessionSet();
        c->setSettings(set);

        // Armed by the cleared() of this load, so the end of a load that was
        // already running in the panel is not taken for it.
        auto armed = std::make_shared<bool>(false);
        auto links = std::make_shared<QList<QMetaObject::Connection>>();
        links->append(connect(&c->sliceDatas, &SliceDatas::cleared, c, [armed]() { *armed = true; }));
        auto unlink = [this, links]() {
            for (const QMetaObject::Connection &link : std::as_const(*links))
                disconnect(link);
        };
        links->append(
            connect(&c->sliceDatas, &SliceDatas::loadFilesFinished, c, [this, c, set, armed, unlink, generation]() {
                if (generation != sessionGeneration_)
                    return unlink();
                if (!*armed)
                    return;
                unlink();
                // The load has set the range, the window and the spacing
                // from the files: the session's own come back.
                c->setSettings(set);
                sessionLoadDone(c);
            }));
        sessionLoads_.insert(c);
        QMetaObject::invokeMethod(&c->sliceDatas, "filesSelected", Qt::QueuedConnection, Q_ARG(QStringList, set.files));
    }

    const QStringList missing = missingSessionFiles(s);
    if (!missing.isEmpty()) {
        QStringList lines = messagenames::listed(missing);
        if (missing.size() > lines.size())
            lines << tr("and %1 more").arg(QLocale().toString(missing.size() - lines.size()));
        showSessionMessage(tr("These slice files of the session are missing:\n%1").arg(lines.join('\n')));
    }
    return true;
}

void CtView::sessionLoadDone(const SlicesCtrl *c)
{
    if (!sessionLoads_.remove(c) || !sessionLoads_.isEmpty())
        return;
    paintPImg();
    emit sessionOpened();
}
