// The About box: version, Qt versions and the licences of the libraries linked.

#include "ui/ctview.h"

#include <QMessageBox>
#include <QStringList>

#include "app/version.h"

void CtView::showAboutD()
{
    QStringList licences;
    licences << tr("Qt: GNU Lesser General Public License, version 3");
#ifdef OXA_LINKS_LIBTIFF
    licences << tr("libtiff: the libtiff licence (BSD-style)");
#endif
#ifdef OXA_LINKS_DCMTK
    licences << tr("DCMTK: BSD-style licences");
#endif
#ifdef OXA_LINKS_GDCM
    licences << tr("GDCM: BSD-style licence");
#endif
#ifdef OXA_LINKS_ITK
    licences << tr("ITK: Apache License 2.0");
#endif
    // Linked in every build: the chunk compressors of OME-Zarr and the NIfTI-2 reader.
    licences << tr("c-blosc: BSD 3-clause licence");
    licences << tr("Zstandard: BSD licence");
    licences << tr("zlib: the zlib licence");
    licences << tr("NIfTI library (nifticlib): public domain");
    QString items;
    for (const QString &l : std::as_const(licences))
        items += QStringLiteral("<li>%1</li>").arg(l.toHtmlEscaped());

    const QString text = QStringLiteral("<h3>Oxa %1</h3><p>%2</p><p>%3</p><p>%4</p><ul>%5</ul>")
                             .arg(oxaVersion().toHtmlEscaped(),
                                  tr("A viewer for stacks of two-dimensional measurement slices.").toHtmlEscaped(),
                                  tr("Qt %1 (built with Qt %2)")
                                      .arg(QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR))
                                      .toHtmlEscaped(),
                                  tr("Libraries and their licences:").toHtmlEscaped(), items);

    // Non-modal like the other dialogs: the window stays usable while it is open.
    if (aboutBox)
        aboutBox->deleteLater();
    aboutBox = new QMessageBox(QMessageBox::NoIcon, tr("About Oxa"), text, QMessageBox::Close, this);
    aboutBox->setTextFormat(Qt::RichText);
    aboutBox->setModal(false);
    aboutBox->setIconPixmap(windowIcon().pixmap(64, 64));
    aboutBox->show();
}
