#pragma once
// Every error box of the window goes through one reporter, so that tests can record the texts
// instead of blocking on a modal dialog.

#include <QString>

class QMessageBox;
class QWidget;

class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    // Shows one error: error symbol, a single OK button. Returns when the user has read it.
    virtual void showError(QWidget* parent, const QString& text) = 0;
    // The same with an informative line below the text: the specifics of this failure (the
    // file, the kinds, the bytes, a hint). The text stays what it always was. A reporter that
    // knows no such line shows the text alone.
    virtual void showDetailedError(QWidget* parent, const QString& text,
                                   const QString& informative) {
        (void)informative;
        showError(parent, text);
    }

    // The reporter in use: a message box unless a test has set another.
    static ErrorReporter& instance();
    // Not owned; nullptr brings the message box back.
    static void setInstance(ErrorReporter* reporter);
};

// The toolkit's message dialog.
class MessageBoxErrorReporter : public ErrorReporter {
public:
    void showError(QWidget* parent, const QString& text) override;
    void showDetailedError(QWidget* parent, const QString& text,
                           const QString& informative) override;

    // The box showError shows, not yet shown: caption "Error", the error symbol, one OK button,
    // and the informative line when there is one. The caller owns it.
    static QMessageBox* createBox(QWidget* parent, const QString& text,
                                  const QString& informative = {});
    // Widens a box to its caption and its longest line, up to a share of the screen: the toolkit
    // sizes a box by its text alone and squeezes a short text's caption ("E… r"), and text
    // without blanks (Japanese) wraps into a narrow column.
    static void fitToText(QMessageBox* box);
};
