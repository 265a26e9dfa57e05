#include "errorreporter.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace {
ErrorReporter* g_reporter = nullptr;
} // namespace

ErrorReporter& ErrorReporter::instance() {
    static MessageBoxErrorReporter messageBox;
    return g_reporter ? *g_reporter : messageBox;
}

void ErrorReporter::setInstance(ErrorReporter* reporter) {
    g_reporter = reporter;
}

void MessageBoxErrorReporter::showError(QWidget* parent, const QString& text) {
    QMessageBox::critical(parent, QCoreApplication::translate("ErrorReporter", "Error"), text,
                          QMessageBox::Ok);
}
