#pragma once

#include <QDialog>
#include <optional>

class QPushButton;
class QTreeWidget;

// The restore dialog: lists the backup archives of a folder with their moments and returns the
// confirmed choice.
class TFormRipristina : public QDialog {
    Q_OBJECT
public:
    explicit TFormRipristina(QWidget* owner = nullptr);

    // Shows the dialog modally on the folder; the archive's name when the user confirmed one.
    std::optional<QString> ChooseArchive(const QString& folder);

    void FormShow();
    void ListViewBackupDblClick();
    void ButtonOkClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Asks for confirmation of the selected row; clears the selection unless the answer is Yes.
    bool Confirmed();

    QString ArchiveFolder;
    QTreeWidget* ListViewBackup = nullptr;
    QPushButton* ButtonOk = nullptr;
    QPushButton* ButtonAnnulla = nullptr;
};
