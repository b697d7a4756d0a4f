#ifndef MEASUREPANEL_H
#define MEASUREPANEL_H

#include <QFrame>

#include <vector>

#include "render/measure.h"

class QComboBox;
class QPushButton;
class QTableWidget;
class ProfilePlot;

// The measurements of the slice views: the tool a left drag in a slice view uses
// (the crosshair, a ruler, a profile, a rectangle or an ellipse), the list of
// measurements with their figures (names editable), Delete, "Export CSV…", and the
// plot of the selected profile. Owned by the window, which keeps the measurements
// and hands them here with the layers to measure; GUI thread.
class MeasurePanel : public QFrame
{
    Q_OBJECT
public:
    explicit MeasurePanel(QWidget *parent = nullptr);

    // The tool: -1 for the crosshair, else a MeasureKind.
    int tool() const;
    // Shows the measurements with their figures in these layers; keeps the selection
    // where it can.
    void show(const std::vector<Measurement> &ms, const std::vector<SceneLayer> &layers, const QString &unit);
    int selected() const;
    void select(int index);

signals:
    void toolChanged(int tool);
    void selectionChanged(int index);
    void renamed(int index, const QString &name);
    void deleteRequested(int index);
    void exportRequested();

private:
    QComboBox *tool_ = nullptr;
    QTableWidget *table_ = nullptr;
    QPushButton *delete_ = nullptr;
    QPushButton *export_ = nullptr;
    ProfilePlot *plot_ = nullptr;
    std::vector<Measurement> shown_;
    std::vector<SceneLayer> layers_;
    QString unit_;
    bool filling_ = false;
    void showProfile(int index);
};

#endif
