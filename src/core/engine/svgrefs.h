#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The pictures a drawing (SVG) names outside itself. The image tool resolves
// such names from its current folder, the call's scratch folder, and would
// read any path it is given; so the drawing is read here first, every name it
// refers to is checked, and only names inside the drawing's own folder are
// made reachable in the scratch folder. A drawing with any other reference
// is refused before a tool runs.
namespace Engine
{
struct TSvgReferences {
    QStringList Names; // relative names below the drawing's folder, each once
    QString Problem;   // why the drawing may not be drawn; empty: none
};

// The references of the drawing svg: href and xlink:href attributes and
// url(...) in attributes and style sheets. Internal ones ("#id") and
// embedded data ("data:") need nothing and are left out.
TSvgReferences SvgReferences(const QByteArray &svg);

// Why the drawing may not read reference, or empty when it is a plain
// relative name inside the drawing's folder.
QString SvgReferenceProblem(const QString &reference);
} // namespace Engine
