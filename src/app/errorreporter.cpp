#include "errorreporter.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>
#include <algorithm>
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
    fitToText(box);
    return box;
}

void MessageBoxErrorReporter::fitToText(QMessageBox* box) {
    const QFontMetrics metrics = box->fontMetrics();
    int widest = metrics.horizontalAdvance(box->windowTitle()) + 160; // the frame's buttons
    const QString texts = box->text() + QLatin1Char('\n') + box->informativeText();
    // A line's room: the text, the symbol's column beside it, and the layout's margins.
    const int beside = box->iconPixmap().width() + 48;
    for (const QString& line : texts.split(QLatin1Char('\n')))
        widest = std::max(widest, metrics.horizontalAdvance(line) + beside);
    const QScreen* screen = box->screen() ? box->screen() : QGuiApplication::primaryScreen();
    const int limit = screen ? screen->availableGeometry().width() * 3 / 5 : 640;
    auto* grid = qobject_cast<QGridLayout*>(box->layout());
    if (!grid)
        return;
    // The grid's text column takes what the spacer asks for; the icon column is extra.
    grid->addItem(
        new QSpacerItem(std::min(widest, limit), 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
        grid->rowCount(), 0, 1, grid->columnCount());
}

void MessageBoxErrorReporter::showError(QWidget* parent, const QString& text) {
    showDetailedError(parent, text, QString());
}

void MessageBoxErrorReporter::showDetailedError(QWidget* parent, const QString& text,
                                                const QString& informative) {
    const std::unique_ptr<QMessageBox> box(createBox(parent, text, informative));
    box->exec();
}
