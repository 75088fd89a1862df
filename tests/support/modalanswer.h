#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QFont>
#include <QMap>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

// Answers the next modal message box that has the button with it, recording its text: a modal box
// blocks the click that opens it, so the answer is armed before the click.
class ModalAnswer {
public:
    explicit ModalAnswer(QMessageBox::StandardButton button) : State(std::make_shared<Shared>()) {
        State->Button = button;
        Poll(State);
    }

    bool Answered() const { return State->Answered; }
    QString Text() const { return State->Text; }
    QMessageBox::StandardButton DefaultButton() const { return State->Default; }
    QMessageBox::Icon Icon() const { return State->IconKind; }
    QFont Font() const { return State->Font; }
    // The caption of one of the box's buttons as it reads, without its accelerator mark.
    QString ButtonText(QMessageBox::StandardButton button) const {
        return State->ButtonTexts.value(button);
    }

private:
    struct Shared {
        QMessageBox::StandardButton Button = QMessageBox::Ok;
        bool Answered = false;
        QString Text;
        QMessageBox::StandardButton Default = QMessageBox::NoButton;
        QMessageBox::Icon IconKind = QMessageBox::NoIcon;
        QMap<QMessageBox::StandardButton, QString> ButtonTexts;
        QFont Font;
    };

    static void Poll(const std::shared_ptr<Shared>& state) {
        QTimer::singleShot(20, [state] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            // A box without that button is another answer's.
            if (box == nullptr || box->button(state->Button) == nullptr) {
                Poll(state);
                return;
            }
            state->Text = box->text();
            state->IconKind = box->icon();
            state->Font = box->font();
            for (QAbstractButton* button : box->buttons())
                state->ButtonTexts.insert(box->standardButton(button), button->text().remove('&'));
            if (box->defaultButton() != nullptr)
                state->Default = box->standardButton(box->defaultButton());
            state->Answered = true;
            box->button(state->Button)->click();
        });
    }

    std::shared_ptr<Shared> State;
};
