#pragma once

#include <QString>

// Small text helpers the engine's pieces share: parts of '/' paths, plain
// names a tool may see, the first line of a tool's printed text.
namespace Engine
{
// Everything after the last '/'.
QString FileNamePart(const QString &path);

// Everything up to and including the last '/' (empty when there is none).
QString FolderPart(const QString &path);

// A file name less its last extension (from the last '.' on); a name without
// a dot stays whole.
QString WithoutExtension(const QString &fileName);

// ASCII letters and digits only, 1 to 16 of them: safe to show a tool.
bool IsPlainWord(const QString &text);

// The plain extension of a path ("png"), or empty when it has none that is
// plain letters and digits.
QString PlainExtension(const QString &path);

// The first line of text, trimmed.
QString FirstLine(const QString &text);
} // namespace Engine
