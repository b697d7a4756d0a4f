#ifndef PANELFIXTURES_H
#define PANELFIXTURES_H

// Helpers for tests that drive a SlicesCtrl panel as a user would.

#include <QFileDialog>
#include <QLineEdit>
#include <QObject>
#include <QStringList>
#include <QTest>

#include "slicefixtures.h"
#include "ui/slicesctrl.h"

namespace fixtures {

// Presses "Select", chooses files in the panel's file dialog and waits until
// the panel has handled the end of the load (its own notification slot was
// connected first, so it has run when this one runs).
inline bool loadThroughDialog(SlicesCtrl &panel, const QStringList &files)
{
    int finished = 0;
    QObject ctx;
    QObject::connect(&panel.sliceDatas, &SliceDatas::loadFilesFinished, &ctx, [&finished] { ++finished; });
    QTest::mouseClick(panel.selectB_, Qt::LeftButton);
    if (!panel.fileDialog)
        return false;
    emit panel.fileDialog->filesSelected(files);
    return QTest::qWaitFor([&finished] { return finished == 1; }, 20000);
}

// Replaces the text of a line edit by typing and finishes with Return.
inline void typeInto(QLineEdit *edit, const QString &text)
{
    edit->selectAll();
    edit->clear();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
}

}  // namespace fixtures

#endif
