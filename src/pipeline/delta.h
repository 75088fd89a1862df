#pragma once

#include <QString>

// A file rebuilt from the installed one and a delta the catalogue offers (catalogue/deltaoffer.h).

// Writes `output` from the reference file (mapped, not copied) and the delta. Throws OrvantoError
// before writing anything when the delta announces no size, a size above `maxSize` or more than
// the output's folder can hold; and when the delta is damaged, does not fit the reference or the
// output cannot be written.
void RebuildFromDelta(const QString& reference, const QString& delta, const QString& output,
                      qint64 maxSize);
