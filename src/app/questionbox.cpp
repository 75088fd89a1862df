#include "app/questionbox.h"

#include "app/windowfont.h"

#include <QMessageBox>
#include <QPushButton>

void ShowBox(QWidget* owner, QMessageBox::Icon icon, const QString& title, const QString& text) {
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
    box.setFont(WindowFont());
    box.exec();
}

bool AskQuestion(QWidget* owner, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.button(QMessageBox::Yes)->setText(QString::fromUtf8("&Sì"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&No"));
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.setFont(WindowFont());
    return box.exec() == QMessageBox::Yes;
}
