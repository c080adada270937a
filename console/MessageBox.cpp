#include "MessageBox.h"

namespace {

QMessageBox::StandardButton nextAnswer = QMessageBox::NoButton;
QString lastAskedTitle;
QString lastAskedText;

// Records the box and hands out a pending answer, if there is one.
bool takeAnswer(const QString& title, const QString& text, QMessageBox::StandardButton* answer)
{
    lastAskedTitle = title;
    lastAskedText = text;
    if (nextAnswer == QMessageBox::NoButton)
        return false;
    *answer = nextAnswer;
    nextAnswer = QMessageBox::NoButton;
    return true;
}

} // namespace

QMessageBox::StandardButton MessageBox::question(QWidget* parent, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (takeAnswer(title, text, &answer))
        return answer;
    return QMessageBox::question(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBox::critical(QWidget* parent, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (takeAnswer(title, text, &answer))
        return answer;
    return QMessageBox::critical(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBox::warning(QWidget* parent, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (takeAnswer(title, text, &answer))
        return answer;
    return QMessageBox::warning(parent, title, text, buttons, defaultButton);
}

QMessageBox::StandardButton MessageBox::information(QWidget* parent, const QString& title, const QString& text,
    QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox::StandardButton answer = QMessageBox::NoButton;
    if (takeAnswer(title, text, &answer))
        return answer;
    return QMessageBox::information(parent, title, text, buttons, defaultButton);
}

void MessageBox::setNextAnswer(QMessageBox::StandardButton button)
{
    nextAnswer = button;
}

QString MessageBox::lastTitle()
{
    return lastAskedTitle;
}

QString MessageBox::lastText()
{
    return lastAskedText;
}

void MessageBox::clearLast()
{
    lastAskedTitle.clear();
    lastAskedText.clear();
}
