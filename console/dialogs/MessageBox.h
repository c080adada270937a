#pragma once

// <windows.h> defines MessageBox as a macro. Pull it in first and drop the
// macro, so that later includes cannot rename this class.
#ifdef _WIN32
#include <qt_windows.h>
#undef MessageBox
#endif

#include <QList>
#include <QMessageBox>
#include <QPair>
#include <QString>

class QWidget;

// The console's modal boxes. Same arguments as QMessageBox's static functions;
// tests pre-answer the next box with setNextAnswer so no box is ever shown.
class MessageBox final
{
public:
    MessageBox() = delete;

    static QMessageBox::StandardButton question(QWidget* parent, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons = QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No),
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static QMessageBox::StandardButton critical(QWidget* parent, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static QMessageBox::StandardButton warning(QWidget* parent, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    static QMessageBox::StandardButton information(QWidget* parent, const QString& title, const QString& text,
        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    // A question whose buttons carry the console's own words, e.g.
    // { { Save, "保存" }, { Discard, "放弃" }, { Cancel, "取消" } }.
    static QMessageBox::StandardButton ask(QWidget* parent, const QString& title, const QString& text,
        const QList<QPair<QMessageBox::StandardButton, QString>>& buttons,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

    // A box that stops nothing: shown without a nested event loop, the
    // program goes on while it is open. A pending answer takes it instead.
    static void notice(QWidget* parent, const QString& title, const QString& text);

    // The next box returns this answer at once instead of being shown.
    // NoButton withdraws a pending answer.
    static void setNextAnswer(QMessageBox::StandardButton button);
    // The next boxes, one answer each.
    static void setNextAnswers(const QList<QMessageBox::StandardButton>& buttons);
    // Title and text of the last box asked for, shown or pre-answered.
    static QString lastTitle();
    static QString lastText();
    static void clearLast();
};
