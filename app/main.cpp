#include <QApplication>

#include "ui/ctview.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    CtView w;
    QObject::connect(&w, &CtView::finishing, &app, &QCoreApplication::quit);
    w.show();
    return app.exec();
}
