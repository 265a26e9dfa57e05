#include "errorreporter.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <memory>

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

QMessageBox* MessageBoxErrorReporter::createBox(QWidget* parent, const QString& text,
                                                const QString& informative) {
    auto* box = new QMessageBox(QMessageBox::Critical,
                                QCoreApplication::translate("ErrorReporter", "Error"), text,
                                QMessageBox::Ok, parent);
    box->setDefaultButton(QMessageBox::Ok);
    if (!informative.isEmpty())
        box->setInformativeText(informative);
    return box;
}

void MessageBoxErrorReporter::showError(QWidget* parent, const QString& text) {
    showDetailedError(parent, text, QString());
}

void MessageBoxErrorReporter::showDetailedError(QWidget* parent, const QString& text,
                                                const QString& informative) {
    const std::unique_ptr<QMessageBox> box(createBox(parent, text, informative));
    box->exec();
}
