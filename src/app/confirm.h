#pragma once
// Every question the window asks before a change that the keyboard cannot take back goes through
// one confirmer, so that tests answer it instead of blocking on a modal box.

#include <QString>

class QWidget;

class Confirmer {
public:
    struct Question {
        QString text;        // "Delete "Minuet" (Song 1) from the keyboard?"
        QString informative; // whether a copy is kept
        QString yesText;     // the button that goes ahead: "Delete", "Replace"
        bool offerDontAsk = false;
    };
    struct Answer {
        bool yes = false;
        bool dontAskAgain = false; // only where it was offered
    };

    virtual ~Confirmer() = default;
    virtual Answer ask(QWidget* parent, const Question& question) = 0;

    // The confirmer in use: a message box unless a test has set another.
    static Confirmer& instance();
    // Not owned; nullptr brings the message box back.
    static void setInstance(Confirmer* confirmer);
};

// The toolkit's question box; No is the default button, so Enter never deletes by accident.
class MessageBoxConfirmer : public Confirmer {
public:
    Answer ask(QWidget* parent, const Question& question) override;
};
