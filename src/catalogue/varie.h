#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// One row of the component checklist: caption, sub-items (installed, available, size) and tick.
struct ChecklistRow {
    QString Caption;
    QStringList SubItems;
    bool Checked = false;

    QString SubItem(int index) const {
        return index < SubItems.size() ? SubItems[index] : QString();
    }
};

// Whether at least one row is ticked.
bool AnyChecked(const QList<ChecklistRow>& rows);

// Sets the caption (column -1) or a sub-item of a row, adding empty sub-items as needed.
void SetItemText(ChecklistRow* row, int column, const QString& text);
