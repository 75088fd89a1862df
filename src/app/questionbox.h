#pragma once

#include <QMessageBox>

class QString;
class QWidget;

// Shows a message (information or error) in a modal box written like the windows, with "OK".
void ShowBox(QWidget* owner, QMessageBox::Icon icon, const QString& title, const QString& text);

// Asks a question in a modal box written like the windows, with the buttons "Sì" and "No", "No"
// the default (also what closing the box answers); true when the answer is "Sì".
bool AskQuestion(QWidget* owner, const QString& title, const QString& text);
