#include "catalogue/varie.h"

#include <algorithm>

void SetItemText(ChecklistRow* row, int column, const QString& text) {
    Q_ASSERT_X(row != nullptr, "varie", "li");
    if (row == nullptr)
        return;
    if (column < 0) {
        row->Caption = text;
        return;
    }
    while (row->SubItems.size() <= column)
        row->SubItems.append(QString());
    row->SubItems[column] = text;
}

bool AnyChecked(const QList<ChecklistRow>& rows) {
    return std::any_of(rows.begin(), rows.end(),
                       [](const ChecklistRow& row) { return row.Checked; });
}
