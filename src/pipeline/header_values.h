#pragma once
// Values of a transcript's header (.txt) and front matter (.md): one line
// each, whatever the file is called. A name may hold a line break, which
// would otherwise start a field of its own (a second "chemin:" that the
// organization would believe).

#include <QString>

// The value as it is; in double quotes with JSON escapes when it holds a
// control character or starts with a double quote.
QString headerValue(const QString &value);

// The value headerValue was given: a quoted value is unescaped, anything else
// is taken as written.
QString headerValueText(const QString &written);
