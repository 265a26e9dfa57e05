#include "app/confirm.h"

#include "app/errorreporter.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
Confirmer* g_confirmer = nullptr;
} // namespace

Confirmer& Confirmer::instance() {
    static MessageBoxConfirmer messageBox;
    return g_confirmer ? *g_confirmer : messageBox;
}

void Confirmer::setInstance(Confirmer* confirmer) {
    g_confirmer = confirmer;
}

Confirmer::Answer MessageBoxConfirmer::ask(QWidget* parent, const Question& question) {
    QMessageBox box(QMessageBox::Question, QCoreApplication::translate("Confirmer", "Confirm"),
                    question.text, QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("ConfirmBox"));
    box.setInformativeText(question.informative);
    QPushButton* yes = box.addButton(question.yesText, QMessageBox::YesRole);
    QPushButton* no = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    QCheckBox* dontAsk = nullptr;
    if (question.offerDontAsk) {
        dontAsk = new QCheckBox(QCoreApplication::translate("Confirmer", "Do&n't ask again"));
        dontAsk->setObjectName(QStringLiteral("DontAskAgainCheck"));
        box.setCheckBox(dontAsk);
    }
    MessageBoxErrorReporter::fitToText(&box);
    box.exec();
    Answer answer;
    answer.yes = box.clickedButton() == yes;
    answer.dontAskAgain = answer.yes && dontAsk && dontAsk->isChecked();
    return answer;
}
