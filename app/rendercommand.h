#ifndef RENDERCOMMAND_H
#define RENDERCOMMAND_H

#include <QStringList>

class QTextStream;

// The command-line renderer: loads slice files (or a session), draws the
// picture the window would show and writes it, or prints what the sets hold.
// args are the whole command line, program name first. Returns the process exit
// status: 0 on success, 1 when the work fails, 2 for a bad command line; every
// failure writes one line to err. Needs a QCoreApplication (no display).
int runRenderCommand(const QStringList &args, QTextStream &out, QTextStream &err);

#endif
